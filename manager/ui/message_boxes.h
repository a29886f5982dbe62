// Every message box of the window goes through one presenter, so that tests take the
// messages (and give the answers) instead of a window waiting for a click.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace meradon::ui {

inline constexpr char kManagerCaption[] = "Zelkora Wireless Network Manager";
inline constexpr char kShortCaption[] = "Meradon";

struct Message {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::Information;
    bool okCancel = false;  // OK and Cancel; otherwise OK alone
};

class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // Shows the message and waits for the operator; true for OK.
    virtual bool Ask(QWidget *parent, const Message &message) = 0;
    // Shows the message without waiting; `closed` runs once it has been dismissed.
    virtual void Show(QWidget *parent, const Message &message, std::function<void()> closed) = 0;
};

// The presenter in use: real message boxes unless a test installed its own.
MessagePresenter &Messages();
// Replaces the presenter (nullptr: real message boxes again); returns the one before.
MessagePresenter *SetMessagePresenter(MessagePresenter *presenter);

}  // namespace meradon::ui
