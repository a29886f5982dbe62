// What the dialog tests share: waiting on the event loop for a condition, and the messages
// the dialogs show, taken instead of message boxes.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

class QWidget;

namespace dialogtest {

using namespace std::chrono_literals;

// Runs the event loop until `done` holds, checking it whenever the loop has nothing left
// to do; false when `timeout` passed first.
bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout);

// While it lives, the dialogs' messages are recorded here instead of shown.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QStringList Texts() const;
    QMessageBox::Icon LastIcon() const;
    void Clear();
};

// The child of `parent` with `name`, failing the test when there is none.
template <typename Widget>
Widget *Find(const QWidget *parent, const char *name);

}  // namespace dialogtest

#include <QWidget>
#include <gtest/gtest.h>

template <typename Widget>
Widget *dialogtest::Find(const QWidget *parent, const char *name) {
    Widget *child = parent->findChild<Widget *>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << "no widget named " << name;
    return child;
}
