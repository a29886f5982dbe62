// Data transfer mode through the window's buttons: broadcast to the active stations, one
// station, loop sending with cancel, Exit while the worker waits on a message box, and
// files that a station sends to the window.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTreeWidget>
#include <fstream>
#include <iterator>

#include "manager/core/quality_values.h"
#include "manager/ui/network_views.h"
#include "manager/ui/quality_plot.h"
#include "manager/ui/receptions_dialog.h"
#include "manager/ui/record_list.h"
#include "tests/ui/window_session.h"

using namespace meradon;
using namespace meradon_ui_test;
using hostsim::HostNode;

namespace {

bool HasLine(WindowSession &s, const QString &tail) {
    for (const QString &line : s.Find<ui::RecordList>("recordList")->Lines())
        if (line.endsWith(tail)) return true;
    return false;
}

// Command set mode, then "数据传输模式", then the worker's first status.
void EnterDataMode(WindowSession &s) {
    ASSERT_TRUE(s.OpenInCommandMode());
    s.messages.shown.clear();
    s.Click("dataModeRadio");
    ASSERT_EQ(s.State().linkMode.load(), LINK_DATA);
    ASSERT_TRUE(WaitFor([&] { return s.State().hostFlags.load() != 0; }));
}

void StartSending(WindowSession &s, const std::vector<uint8_t> &content, const char *name) {
    const std::string path = (s.dir / name).string();
    std::filesystem::create_directories(s.dir);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
    s.Type("sendFileEdit", QString::fromStdString(path));
    s.Click("sendButton");
    ASSERT_TRUE(s.messages.shown.empty()) << s.messages.shown[0].text.toStdString();
    EXPECT_FALSE(s.Enabled("sendButton"));
    EXPECT_TRUE(s.Enabled("cancelButton"));
    EXPECT_FALSE(s.Enabled("remoteButton"));
    EXPECT_FALSE(s.Enabled("commandModeRadio"));
    EXPECT_FALSE(s.Enabled("chooseFileButton"));
}

}  // namespace

TEST(DataMode, BroadcastWithAnEmptyReceiverReachesTheActiveStations) {
    WindowSession s("ui-broadcast");
    s.sim->AddStations({3, 7}, true);
    s.sim->AddStations({9});
    EnterDataMode(s);
    EXPECT_EQ(s.Text("peerEdit"), "");  // the host node's peer is 0: broadcast
    EXPECT_EQ(s.State().peerNode.load(), 0);
    for (const char *on : {"sendButton", "chooseFileButton", "loopSendingCheck", "remoteButton",
                           "saveButton", "recordList"})
        EXPECT_TRUE(s.Enabled(on)) << on;
    EXPECT_FALSE(s.Enabled("setStationButton"));
    EXPECT_FALSE(s.Enabled("cancelButton"));

    // The three refusals of "传送" leave it usable.
    s.Click("sendButton");
    s.Type("sendFileEdit", QString::fromStdString((s.dir / "missing.bin").string()));
    s.Click("sendButton");
    std::filesystem::create_directories(s.dir);
    std::ofstream(s.dir / "empty.bin").close();
    s.Type("sendFileEdit", QString::fromStdString((s.dir / "empty.bin").string()));
    s.Click("sendButton");
    EXPECT_EQ(s.messages.Texts(), (std::vector<QString>{"请输入文件名！", "打开文件失败，请确认文件位置！",
                                                         "文件长度为零,请重新选择文件"}));
    EXPECT_TRUE(s.Enabled("sendButton"));
    s.messages.shown.clear();

    const auto content = meradon_test::Pattern(1500, 0x21);
    StartSending(s, content, "all.bin");
    ASSERT_TRUE(WaitFor([&] { return HasLine(s, "成功: 3,7") && s.Enabled("sendButton"); }, 20000))
        << s.Find<ui::RecordList>("recordList")->Lines().join('\n').toStdString();
    EXPECT_TRUE(HasLine(s, "开始传输,广播模式"));
    EXPECT_TRUE(HasLine(s, "总计: 2 个节点"));
    EXPECT_FALSE(s.Enabled("cancelButton"));
    EXPECT_TRUE(s.Enabled("dataModeRadio"));
    EXPECT_EQ(s.Find<QLabel>("transferText")->text(), "1500/1500 bytes");
    for (uint8_t station : {3, 7}) {
        auto files = s.sim->ReceivedFiles(station);
        ASSERT_EQ(files.size(), 1u) << int(station);
        EXPECT_EQ(files[0].data, content);
    }
    EXPECT_TRUE(s.sim->ReceivedFiles(9).empty());
}

TEST(DataMode, OneStationThroughTheButtons) {
    WindowSession s("ui-one");
    s.sim->AddStations({5});
    s.sim->UpdateSettings([](hostsim::HostSettings &h) { h.peer = 5; });
    EnterDataMode(s);
    EXPECT_EQ(s.State().peerNode.load(), 5);

    const auto content = meradon_test::Pattern(3000, 0x5A);
    StartSending(s, content, "one.bin");
    // "传送" comes back with the report, not with the file's last chunk: clicked at once, the
    // next sending neither loses that report nor finds the receiver still connected.
    ASSERT_TRUE(WaitFor([&] { return s.Enabled("sendButton") || !s.messages.shown.empty(); }, 20000));
    ASSERT_TRUE(s.messages.shown.empty()) << s.messages.shown[0].text.toStdString();
    EXPECT_TRUE(HasLine(s, "成功: 5")) << "offered before the report";
    EXPECT_TRUE(HasLine(s, "开始传输,接收点为 5"));
    EXPECT_TRUE(HasLine(s, "总计: 1 个节点"));
    StartSending(s, meradon_test::Pattern(500, 0x33), "two.bin");
    ASSERT_TRUE(WaitFor([&] { return s.Enabled("sendButton"); }, 20000));
    const QStringList lines = s.Find<ui::RecordList>("recordList")->Lines();
    EXPECT_EQ(lines.filter("成功: 5").size(), 2) << lines.join('\n').toStdString();
    auto files = s.sim->ReceivedFiles(5);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].crcOk && files[1].crcOk);
    EXPECT_EQ(files[0].data, content);
}

// The window takes packets in only when the worker says it queued some, many batches of
// them for a file this size; each file's lines come in order after its last byte was
// written, and the station's cell ends on the count of the last packet.
TEST(DataMode, FilesFromAStationAreRecordedInOrderAndCounted) {
    WindowSession s("ui-receive");
    s.sim->AddStations({6});
    EnterDataMode(s);
    const auto first = meradon_test::Pattern(30000, 0x11), second = meradon_test::Pattern(9000, 0x47);
    s.sim->SendFileFromStation(6, first);
    s.sim->SendFileFromStation(6, second);
    auto *records = s.Find<ui::RecordList>("recordList");
    ASSERT_TRUE(WaitFor([&] { return records->Lines().filter("文件:").size() == 2; }, 20000))
        << records->Lines().join('\n').toStdString();

    QStringList lines;
    for (const QString &line : records->Lines())
        if (line.contains("接收") || line.contains("文件:")) lines << line.section(' ', 1).trimmed();
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    const std::vector<uint8_t> *contents[] = {&first, &second};
    for (int file = 0; file < 2; ++file) {
        const QString size = QString::number(contents[file]->size());
        EXPECT_EQ(lines[3 * file], "开始接收,大小 " + size + " bytes");
        EXPECT_EQ(lines[3 * file + 1], "接收成功,大小 " + size + " bytes");
        ASSERT_TRUE(lines[3 * file + 2].startsWith("文件:"));
        std::ifstream in(lines[3 * file + 2].mid(3).toStdString(), std::ios::binary);
        EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), *contents[file]) << file;
    }
    auto *list = s.Find<QTableWidget>("stationList");
    EXPECT_TRUE(WaitFor([&] { return list->item(5, kColumnData)->text() == "9000"; }))
        << list->item(5, kColumnData)->text().toStdString();
    EXPECT_TRUE(list->selectionModel()->isRowSelected(5, {}));

    // The station's row lists the same files from the history store, newest first.
    ASSERT_TRUE(s.window->Core().Context().history.Flush());
    ui::ReceptionsDialog *received = s.window->Views().ShowReceptions(6);
    ASSERT_NE(received, nullptr);
    auto *tree = received->findChild<QTreeWidget *>("receptionsTree");
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(2), "9000");
    EXPECT_EQ(tree->topLevelItem(0)->text(4), "接收成功");
    EXPECT_EQ(tree->topLevelItem(1)->text(5), lines[2].mid(3));
}

TEST(DataMode, LoopSendingUntilCancelled) {
    WindowSession s("ui-loop");
    s.sim->AddStations({4}, true);
    EnterDataMode(s);
    s.Click("loopSendingCheck");
    EXPECT_EQ(s.State().loopSend.load(), 1);

    StartSending(s, meradon_test::Pattern(600, 0x42), "loop.bin");
    auto *text = s.Find<QLabel>("transferText");
    ASSERT_TRUE(WaitFor([&] { return text->text().endsWith(" X2 bytes"); }, 30000)) << text->text().toStdString();

    s.Click("cancelButton");
    ASSERT_TRUE(WaitFor([&] { return !s.State().sendFile.IsOpen(); }));
    EXPECT_TRUE(s.Enabled("sendButton"));
    EXPECT_FALSE(s.Enabled("cancelButton"));
    EXPECT_TRUE(s.Enabled("sendFileEdit"));
    const std::size_t framesAtCancel = s.sim->ReceivedCount();
    auto streamFrameAfterCancel = [&] {
        auto frames = s.sim->Received();
        for (std::size_t i = framesAtCancel; i < frames.size(); ++i)
            if (frames[i].Code() == 0x1D) return true;
        return false;
    };
    EXPECT_FALSE(WaitFor(streamFrameAfterCancel, 300));
    EXPECT_GE(s.sim->ReceivedFiles(4).size(), 2u);

    // "关闭" in the middle of the next sending: nothing stays armed, and "传送" is not
    // offered until the link is in data transfer mode again.
    StartSending(s, meradon_test::Pattern(600, 0x43), "closed.bin");
    s.Click("openButton");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    EXPECT_EQ(IsShellActive(), 0);
    EXPECT_FALSE(s.Enabled("sendButton"));
    EXPECT_FALSE(s.Enabled("cancelButton"));
    EXPECT_TRUE(s.State().sendState.load() == IDLE && !s.State().sendFile.IsOpen());
    s.Click("sendButton");
    EXPECT_FALSE(s.State().sendFile.IsOpen());
    s.messages.shown.clear();
    s.Click("openButton");
    ASSERT_TRUE(WaitFor([&] { return s.Enabled("setStationButton"); }));  // command set mode
    s.Click("dataModeRadio");
    ASSERT_EQ(s.State().linkMode.load(), LINK_DATA);
    EXPECT_FALSE(WaitFor([&] { return s.State().sendState.load() != IDLE; }, 300)) << "a sending started by itself";
    EXPECT_TRUE(s.Enabled("sendButton"));
}

TEST(DataMode, ExitEndsWithTheWorkersBoxStillOpen) {
    WindowSession s("ui-exit");
    s.sim->AddStations({6}, true);
    // Host flags without "receiver active": the worker stops the sending with a box.
    s.sim->With([](HostNode &n) { n.Model().flagsOverride = 0x02; });
    EnterDataMode(s);
    s.messages.holdWorkerBoxes = true;
    StartSending(s, meradon_test::Pattern(100, 1), "held.bin");
    ASSERT_TRUE(WaitFor([&] { return !s.messages.shown.empty(); }));
    EXPECT_EQ(s.messages.shown[0].text, "接收节点未指定      \r\n请检查后重新传输");
    EXPECT_EQ(s.messages.shown[0].caption, "Meradon");

    QSignalSpy exited(s.window.get(), &ui::MainWindow::exitRequested);
    QElapsedTimer took;
    took.start();
    s.Click("exitButton");
    EXPECT_LT(took.elapsed(), 1000);
    EXPECT_EQ(exited.count(), 1);
    EXPECT_FALSE(IsShellActive());
    EXPECT_FALSE(s.window->isVisible());
}

TEST(DataMode, ResultsViewResendsToTheFailedAndQualityIsPlottedAndKept) {
    WindowSession s("ui-results");
    s.sim->AddStations({3, 5, 7}, true);
    s.sim->UpdateStation(5, [](hostsim::Station &st) { st.suspended = true; });
    EnterDataMode(s);
    StartSending(s, meradon_test::Pattern(800, 0x17), "net.bin");
    ASSERT_TRUE(WaitFor([&] { return HasLine(s, "失败: 5") && s.Enabled("sendButton"); }, 20000))
        << s.Find<ui::RecordList>("recordList")->Lines().join('\n').toStdString();

    s.Click("sendingsButton");
    auto *tree = s.window->findChild<QTreeWidget *>("sendingsTree");
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem *broadcast = tree->topLevelItem(0);
    EXPECT_EQ(broadcast->text(1), "net.bin");
    EXPECT_EQ(broadcast->text(5), "广播");
    ASSERT_EQ(broadcast->childCount(), 3);
    EXPECT_EQ(broadcast->child(0)->text(1), "站点 3: 成功");
    EXPECT_EQ(broadcast->child(1)->text(1), "站点 5: 失败: 挂起");

    s.Click("resendButton");
    EXPECT_FALSE(s.Enabled("sendButton")) << "the resend is a sending like any other";
    ASSERT_TRUE(WaitFor([&] { return !s.window->Core().Resending() && s.Enabled("sendButton"); }, 20000));
    ASSERT_TRUE(WaitFor([&] { return tree->topLevelItemCount() == 2; }));
    QTreeWidgetItem *resend = tree->topLevelItem(0);  // newest first
    EXPECT_EQ(resend->text(6), "1");
    ASSERT_EQ(resend->childCount(), 1);
    EXPECT_EQ(resend->child(0)->text(1), "站点 5: 成功");
    EXPECT_EQ(s.sim->ReceivedFiles(5).size(), 1u);
    EXPECT_EQ(s.sim->ReceivedFiles(3).size(), 1u);
    // Station 5 holds the file now: the broadcast has no station left to offer.
    tree->setCurrentItem(tree->topLevelItem(1));
    EXPECT_FALSE(s.Enabled("resendButton"));
    // Shown again, the view is on the newest sending, without the old status line.
    s.Click("saveSendingsButton");
    auto *status = s.Find<QLabel>("sendingsStatus");
    EXPECT_TRUE(status->text().startsWith("已保存")) << status->text().toStdString();
    tree->window()->close();
    s.Click("sendingsButton");
    EXPECT_TRUE(status->text().isEmpty()) << status->text().toStdString();
    EXPECT_EQ(tree->currentItem(), tree->topLevelItem(0));

    // Today's sendings from the history store, newest first: station 5 has got the file
    // since, so the broadcast offers nothing more to resend.
    ASSERT_TRUE(s.window->Core().Context().history.Flush());
    s.window->findChild<QComboBox *>("sendingsSpan")->setCurrentIndex(1);
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(6), tree->topLevelItem(1)->text(0)) << "the resend names the broadcast";
    EXPECT_EQ(tree->topLevelItem(1)->child(1)->text(1), "站点 5: 失败: 挂起");
    tree->setCurrentItem(tree->topLevelItem(1));
    EXPECT_FALSE(s.Enabled("resendButton"));
    s.window->findChild<QComboBox *>("sendingsSpan")->setCurrentIndex(0);

    // Station 3 reports its link twice; its row opens the plot of what it reported.
    s.sim->UpdateStation(3, [](hostsim::Station &st) { st.peerLqi = 0x61; });
    s.sim->SendSignal(0x40, 3);
    s.sim->UpdateStation(3, [](hostsim::Station &st) { st.peerLqi = 0x63; });
    s.sim->SendSignal(0x40, 3);
    ASSERT_TRUE(WaitFor([&] {
        const auto kept = s.window->Core().Context().quality.Since(3, meradon::kLongAgo);
        return !kept.empty() && kept.back().values[0] == 0x63;
    }));
    auto *stations = s.Find<QTableWidget>("stationList");
    stations->scrollToItem(stations->item(2, 1));
    const QPoint cell = stations->visualItemRect(stations->item(2, 1)).center();
    QTest::mouseClick(stations->viewport(), Qt::LeftButton, {}, cell);  // a double click's first press
    QTest::mouseDClick(stations->viewport(), Qt::LeftButton, {}, cell);
    auto *plot = s.window->findChild<ui::QualityPlot *>("qualityPlot");
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->Station(), 3);
    EXPECT_EQ(plot->findChild<QLabel *>("qualityFigure00")->text(), "99");   // last
    EXPECT_EQ(plot->findChild<QLabel *>("qualityFigure01")->text(), "97");   // minimum
    // The last week comes from the history store, which holds the same packets.
    const auto count = plot->findChild<QLabel *>("qualityCount")->text();
    ASSERT_TRUE(s.window->Core().Context().history.Flush());
    plot->findChild<QComboBox *>("qualitySpan")->setCurrentIndex(3);
    EXPECT_EQ(plot->findChild<QLabel *>("qualityCount")->text(), count);
    EXPECT_EQ(plot->findChild<QLabel *>("qualityFigure00")->text(), "99");
    EXPECT_EQ(plot->findChild<QLabel *>("qualityFigure01")->text(), "97");

    // The day's file holds the same packets.
    std::vector<meradon::QualityRow> rows;
    for (const auto &entry : std::filesystem::directory_iterator(s.dir)) {
        if (entry.path().filename().string().rfind("link-quality ", 0) != 0) continue;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);)
            if (auto row = meradon::ParseQualityLine(line); row && row->station == 3) rows.push_back(*row);
    }
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[rows.size() - 2].values[0], 0x61);
    EXPECT_EQ(rows.back().values, (meradon::QualityValues{0x63, 0xA0, 0x4E, 0x50}));
}
