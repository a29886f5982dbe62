// A main window on the offscreen platform, its UDP link pointed at an in-process hostsim
// on 127.0.0.1, with every message box taken by a recorder that answers at once.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "manager/ui/main_window.h"
#include "manager/ui/message_boxes.h"
#include "sim/host_sim.h"
#include "tests/manager/hostsim_session.h"
#include "tevrolink/tevrolink.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace meradon_ui_test {

// Takes the messages instead of showing them. Questions get `answer`; the worker's boxes
// are closed at once unless `holdWorkerBoxes`.
class RecordingMessages : public meradon::ui::MessagePresenter {
public:
    RecordingMessages() { before_ = meradon::ui::SetMessagePresenter(this); }
    ~RecordingMessages() override { meradon::ui::SetMessagePresenter(before_); }

    bool Ask(QWidget *, const meradon::ui::Message &message) override {
        shown.push_back(message);
        return answer;
    }
    void Show(QWidget *, const meradon::ui::Message &message, std::function<void()> closed) override {
        shown.push_back(message);
        if (!holdWorkerBoxes) closed();
    }

    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const auto &m : shown) texts.push_back(m.text);
        return texts;
    }

    std::vector<meradon::ui::Message> shown;
    bool answer = true;
    bool holdWorkerBoxes = false;

private:
    meradon::ui::MessagePresenter *before_ = nullptr;
};

// Waits while the window's event loop runs (timer, queued commands); false on time-out.
inline bool WaitFor(const std::function<bool()> &done, int ms = 5000) {
    return QTest::qWaitFor(done, ms);
}

class WindowSession {
public:
    explicit WindowSession(const std::string &label)
        : sim(hostsim::HostSim::StartUdp("127.0.0.1", 0)),
          dir(meradon_test::FreshDirectory(label)),
          window(std::make_unique<meradon::ui::MainWindow>(dir)) {
        window->SetRemotePort(sim->Port());
        State().netSettings.localPort = meradon_test::FreeUdpPort();
        window->PointAtNetwork("127.0.0.1");
        window->show();
    }
    ~WindowSession() {
        window.reset();
        ::CloseShell();
        std::filesystem::remove_all(dir);
    }

    meradon::AppState &State() { return window->Core().State(); }

    template <typename T = QWidget>
    T *Find(const char *name) {
        T *w = window->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Clicks a control as the operator does: nothing happens when it is disabled.
    void Click(const char *name) { Find<QAbstractButton>(name)->click(); }
    bool Enabled(const char *name) { return Find(name)->isEnabled(); }
    QString Text(const char *name) { return Find<QLineEdit>(name)->text(); }
    void Type(const char *name, const QString &text) { Find<QLineEdit>(name)->setText(text); }

    // "打开", then the posted command set mode and its reads, up to the station list.
    bool OpenInCommandMode() {
        Click("openButton");
        return WaitFor([&] { return window->windowTitle().contains(" - "); }) &&
               WaitFor([&] { return State().listPrimed.load() != 0; });
    }

    std::unique_ptr<hostsim::HostSim> sim;
    RecordingMessages messages;
    std::filesystem::path dir;
    std::unique_ptr<meradon::ui::MainWindow> window;
};

}  // namespace meradon_ui_test
