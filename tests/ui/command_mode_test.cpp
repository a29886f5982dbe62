// Opening the UDP link and the command set mode: what the posted reads fill in, the group
// states, the range checks that keep wrong values off the link, and the slave role.
#include <QComboBox>
#include <QCoreApplication>
#include <QProgressBar>
#include <QRadioButton>

#include "manager/ui/station_table.h"
#include "manager/ui/tray_icon.h"
#include "tests/ui/window_session.h"

using namespace meradon;
using namespace meradon_ui_test;

TEST(CommandMode, OpeningReadsTheHostNodeIntoTheWindow) {
    WindowSession s("ui-open");
    s.sim->UpdateSettings([](hostsim::HostSettings &h) {
        h.nodeId = 7;
        h.peer = 5;
        h.pointX1 = 3;
        h.pointX2 = 12;
        h.power = 4;
        h.handShake = true;  // the PC side ("支持数据重传") stays unchecked: a mismatch
        h.firmware = {'Z', 'K', '-', '2', '.', '5'};
    });
    s.sim->AddStations({3, 9}, true);

    // Closed: only the link choice works.
    EXPECT_FALSE(s.Enabled("stationList"));
    EXPECT_FALSE(s.Enabled("commandModeRadio"));
    EXPECT_FALSE(s.Enabled("checkAllButton"));
    EXPECT_TRUE(s.Enabled("addressEdit"));
    EXPECT_FALSE(s.Enabled("portCombo"));

    ASSERT_TRUE(s.OpenInCommandMode());
    EXPECT_EQ(s.window->windowTitle(), "Zelkora Wireless Network Manager - ZK-2.5");
    EXPECT_EQ(s.window->findChild<ui::TrayIcon *>()->Tip(), s.window->windowTitle());
    EXPECT_EQ(s.Text("stationEdit"), "7");
    EXPECT_EQ(s.Text("peerEdit"), "5");
    EXPECT_TRUE(s.Find<QRadioButton>("receiverRadio")->isChecked());
    EXPECT_EQ(s.Text("point1Edit"), "3");
    EXPECT_EQ(s.Text("point2Edit"), "12");
    EXPECT_EQ(s.Find<QComboBox>("powerCombo")->currentText(), "- 05 dBm");
    EXPECT_EQ(s.Find<QComboBox>("retransmissionCombo")->currentIndex(), 0);
    ASSERT_EQ(s.messages.shown.size(), 1u);
    EXPECT_EQ(s.messages.shown[0].text, "数据重传设置与设备不符，请确认设置!");
    EXPECT_EQ(s.messages.shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(s.State().linkMode.load(), LINK_WINDOW);

    // The list shows the stations without selecting a row: nobody asked for one.
    auto *list = s.Find<ui::StationTable>("stationList");
    ASSERT_TRUE(WaitFor([&] { return list->item(2, kColumnActive)->text() == "√"; }));
    EXPECT_EQ(list->item(2, kColumnOnline)->text(), "√");
    EXPECT_EQ(list->item(8, kColumnActive)->text(), "√");
    EXPECT_EQ(list->item(4, kColumnActive)->text(), "Х");
    EXPECT_EQ(list->item(254, kColumnStation)->text(), "255");
    EXPECT_TRUE(list->selectedItems().isEmpty());

    // Link open, command set mode.
    EXPECT_EQ(s.Find<QAbstractButton>("openButton")->text(), "关闭");
    for (const char *off : {"networkRadio", "serialRadio", "setupButton", "addressEdit",
                            "retransmissionCheck", "traceOutputCheck", "sendButton",
                            "remoteButton", "saveButton", "recordList", "cancelButton"})
        EXPECT_FALSE(s.Enabled(off)) << off;
    for (const char *on : {"stationList", "checkAllButton", "zeroButton", "searchButton",
                           "peerEdit", "setPeerButton", "clockButton", "dataModeRadio"})
        EXPECT_TRUE(s.Enabled(on)) << on;

    // Closing gives the link choice back and keeps the list usable.
    s.Click("openButton");
    EXPECT_FALSE(IsShellActive());
    EXPECT_EQ(s.Find<QAbstractButton>("openButton")->text(), "打开");
    EXPECT_TRUE(s.Enabled("networkRadio"));
    EXPECT_TRUE(s.Enabled("addressEdit"));
    EXPECT_TRUE(s.Enabled("stationList"));
    EXPECT_FALSE(s.Enabled("dataModeRadio"));
    EXPECT_FALSE(s.Enabled("setStationButton"));
}

TEST(CommandMode, ValuesOutOfRangeAreRefusedBeforeAnythingIsSent) {
    WindowSession s("ui-ranges");
    ASSERT_TRUE(s.OpenInCommandMode());
    const std::size_t framesBefore = s.sim->ReceivedCount();
    s.Click("receiverRadio");  // the host node's peer is 0: the peer field starts disabled

    struct Refusal {
        const char *edit, *value, *button, *message;
    };
    for (const Refusal &r : {Refusal{"stationEdit", "0", "setStationButton", "输入无效,有效的节点号码是 1-254"},
                             Refusal{"stationEdit", "255", "setStationButton", "输入无效,有效的节点号码是 1-254"},
                             Refusal{"peerEdit", "255", "setPeerButton", "输入无效,有效的节点号码是 1-254"},
                             Refusal{"point1Edit", "17", "setPoint1Button", "输入越界,有效的工作频点在0-16"},
                             Refusal{"point2Edit", "99", "setPoint2Button", "输入越界,有效的工作频点在0-16"},
                             // Beyond any integer, or negative: refused, never wrapped to 0.
                             Refusal{"point1Edit", "99999999999999999999", "setPoint1Button", "输入越界,有效的工作频点在0-16"},
                             Refusal{"point2Edit", "-1", "setPoint2Button", "输入越界,有效的工作频点在0-16"},
                             Refusal{"stationEdit", "18446744073709551617", "setStationButton", "输入无效,有效的节点号码是 1-254"}}) {
        s.messages.shown.clear();
        s.Type(r.edit, r.value);
        const std::size_t before = s.sim->ReceivedCount();
        s.Click(r.button);
        ASSERT_EQ(s.messages.Texts(), std::vector<QString>{r.message}) << r.edit << "=" << r.value;
        EXPECT_EQ(s.Text(r.edit), r.value);  // the wrong value stays for the operator
        // The peer's check first asks for the role; the value itself goes nowhere.
        if (std::string(r.button) != "setPeerButton") {
            EXPECT_EQ(s.sim->ReceivedCount(), before) << r.edit;
        }
    }
    EXPECT_EQ(s.sim->Settings().nodeId, 1);
    EXPECT_EQ(s.sim->Settings().pointX1, 0);
    EXPECT_GT(s.sim->ReceivedCount(), framesBefore);

    s.messages.shown.clear();
    s.Type("stationEdit", "254");
    s.Click("setStationButton");
    s.Type("point1Edit", "16");
    s.Click("setPoint1Button");
    s.Type("point2Edit", "0");
    s.Click("setPoint2Button");
    s.Type("peerEdit", "254");
    s.Click("setPeerButton");
    s.Find<QComboBox>("powerCombo")->setCurrentIndex(7);
    s.Click("setPowerButton");
    EXPECT_TRUE(s.messages.shown.empty());
    const hostsim::HostSettings h = s.sim->Settings();
    EXPECT_EQ(h.nodeId, 254);
    EXPECT_EQ(h.pointX1, 16);
    EXPECT_EQ(h.pointX2, 0);
    EXPECT_EQ(h.peer, 254);
    EXPECT_EQ(h.power, 7);
    EXPECT_EQ(s.Text("stationEdit"), "254");
    EXPECT_EQ(s.Text("point1Edit"), "16");

    // Broadcast from a master: the peer becomes 0 and reading it back shows broadcast.
    s.Click("broadcastRadio");
    EXPECT_EQ(s.sim->Settings().peer, 0);
    EXPECT_FALSE(s.Enabled("peerEdit"));
    s.Click("receiverRadio");
    EXPECT_TRUE(s.Enabled("peerEdit"));
    s.Click("readPeerButton");
    EXPECT_TRUE(s.Find<QRadioButton>("broadcastRadio")->isChecked());
    EXPECT_EQ(s.Text("peerEdit"), "");
    EXPECT_FALSE(s.Enabled("setPeerButton"));
}

TEST(CommandMode, ASlaveNodeRefusesPeerAndBroadcast) {
    WindowSession s("ui-slave");
    s.sim->UpdateSettings([](hostsim::HostSettings &h) {
        h.master = false;
        h.peer = 1;
    });
    ASSERT_TRUE(s.OpenInCommandMode());
    s.messages.shown.clear();

    s.Type("peerEdit", "9");
    s.Click("setPeerButton");
    EXPECT_EQ(s.messages.Texts(), std::vector<QString>{"从节点仅能向主节点发送数据,无需指定"});
    EXPECT_EQ(s.sim->Settings().peer, 1);
    EXPECT_EQ(s.Text("peerEdit"), "1");  // read back instead

    s.messages.shown.clear();
    s.Click("broadcastRadio");
    EXPECT_EQ(s.messages.Texts(), std::vector<QString>{"从节点不支持广播功能"});
    EXPECT_EQ(s.sim->Settings().peer, 1);
    EXPECT_TRUE(s.Enabled("peerEdit"));
}

TEST(CommandMode, AFailedOpenStillTriesTheModeAndLeavesTheWorkerDropping) {
    WindowSession s("ui-open-fails");
    s.Click("serialRadio");
    auto *port = s.Find<QComboBox>("portCombo");
    port->setEditText("/nonexistent/ttyMISSING");
    s.Click("openButton");
    ASSERT_EQ(s.messages.shown.size(), 1u);
    EXPECT_TRUE(s.messages.shown[0].text.startsWith("打开通讯端口失败, 请重试!\n"));
    EXPECT_TRUE(s.messages.shown[0].text.contains("/nonexistent/ttyMISSING"));
    EXPECT_EQ(s.messages.shown[0].caption, "Zelkora Wireless Network Manager");
    // The posted command set mode runs, its start calls fail.
    s.State().linkMode.store(LINK_DATA);  // a value the posted command must replace
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    EXPECT_EQ(s.State().linkMode.load(), LINK_NO_MODE);
    EXPECT_FALSE(s.Enabled("setStationButton"));
    EXPECT_TRUE(s.Enabled("openButton"));
    EXPECT_TRUE(s.Enabled("serialRadio"));

    // A network address that is not four numbers opens nothing, least of all a broadcast.
    s.Click("networkRadio");
    for (const char *address : {"", "10.1", "10.0.0.", "10.0.0.300"}) {
        s.messages.shown.clear();
        s.Type("addressEdit", address);
        s.Click("openButton");
        ASSERT_EQ(s.messages.shown.size(), 1u) << address;
        EXPECT_TRUE(s.messages.shown[0].text.startsWith("打开通讯端口失败, 请重试!\n主节点的网络地址不完整"))
            << address << ": " << s.messages.shown[0].text.toStdString();
        EXPECT_EQ(IsShellActive(), 0) << address;
    }
}

TEST(CommandMode, TheTrayBringsTheWindowBackFromMinimisedAndFromHidden) {
    WindowSession s("ui-tray");
    auto *tray = s.window->findChild<ui::TrayIcon *>();
    ASSERT_NE(tray, nullptr);
    s.window->showMinimized();
    ASSERT_TRUE(s.window->isMinimized());
    emit tray->doubleClicked();
    EXPECT_FALSE(s.window->isMinimized());
    s.window->hide();
    emit tray->doubleClicked();
    EXPECT_TRUE(s.window->isVisible());
    EXPECT_FALSE(s.window->isMinimized());
}
