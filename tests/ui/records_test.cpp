// The operation record: stamping, the horizontal scroll range, and the saved report in
// GBK under a name built from the link.
#include <QComboBox>
#include <QDir>
#include <QScrollBar>
#include <fstream>
#include <iterator>
#include <regex>

#include "manager/ui/record_list.h"
#include "tests/ui/window_session.h"

using namespace meradon;
using namespace meradon_ui_test;

namespace {

std::vector<std::filesystem::path> Reports(const std::filesystem::path &dir) {
    std::vector<std::filesystem::path> found;
    if (!std::filesystem::exists(dir)) return found;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().starts_with("Report-")) found.push_back(e.path());
    return found;
}

std::string Bytes(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(Records, LinesAreStampedAndTheScrollRangeFollowsTheWidestLine) {
    WindowSession s("ui-records");
    auto *list = s.Find<ui::RecordList>("recordList");
    s.window->AddRecordLine("开始传输,接收点为 5", LineStyle::Stamped);
    s.window->AddRecordLine("成功: 5", LineStyle::Indented);
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(std::regex_match(list->item(0)->text().toStdString(),
                                 std::regex(R"(\[\d\d:\d\d:\d\d\] 开始传输,接收点为 5)")));
    EXPECT_EQ(list->item(1)->text(), "      成功: 5");
    EXPECT_EQ(list->currentRow(), 1);

    QScrollBar *bar = list->horizontalScrollBar();
    ASSERT_TRUE(WaitFor([&] { return bar->maximum() == 0; }));
    s.window->AddRecordLine(QString("很长的一行").repeated(40), LineStyle::Stamped);
    ASSERT_TRUE(WaitFor([&] { return bar->maximum() > 0; }));
    const int wide = bar->maximum();
    s.window->AddRecordLine("短", LineStyle::Stamped);
    ASSERT_TRUE(WaitFor([&] { return list->count() == 4; }));
    QTest::qWait(20);
    EXPECT_EQ(bar->maximum(), wide);  // a shorter line does not narrow it

    list->ClearLines();
    EXPECT_EQ(list->count(), 0);
    EXPECT_TRUE(WaitFor([&] { return bar->maximum() == 0; }));
}

TEST(Records, SavedReportIsGbkWithCrLfBetweenLines) {
    WindowSession s("ui-save");
    // Empty: no file, no message.
    s.window->SaveRecords(false);
    EXPECT_TRUE(Reports(s.dir).empty());
    EXPECT_TRUE(s.messages.shown.empty());

    s.window->AddRecordLine("文件结束,等待传输完成", LineStyle::Stamped);
    s.window->AddRecordLine("总计: 1 个节点", LineStyle::Indented);
    s.window->SaveRecords(false);
    auto reports = Reports(s.dir);
    ASSERT_EQ(reports.size(), 1u);
    const std::string name = reports[0].filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(Report-127\.0\.0\.1 \d\d-\d\d-\d\d \d\d-\d\d-\d\d\.txt)"))) << name;
    ASSERT_EQ(s.messages.shown.size(), 1u);
    EXPECT_EQ(s.messages.shown[0].text, QString::fromStdString("文件保存在 " + reports[0].string()));
    EXPECT_EQ(s.messages.shown[0].caption, "Meradon");

    // The stamp, then both lines in GBK with CR LF between them and nothing after the last.
    const std::string stamp = s.Find<ui::RecordList>("recordList")->item(0)->text().left(11).toStdString();
    EXPECT_EQ(Bytes(reports[0]), stamp +
                                     "\xCE\xC4\xBC\xFE\xBD\xE1\xCA\xF8,\xB5\xC8\xB4\xFD\xB4\xAB\xCA\xE4\xCD\xEA\xB3\xC9"
                                     "\r\n"
                                     "      \xD7\xDC\xBC\xC6: 1 \xB8\xF6\xBD\xDA\xB5\xE3");
}

TEST(Records, AReportOfASerialLinkIsNamedAfterThePortsLastComponent) {
    WindowSession s("ui-save-serial");
    s.Click("serialRadio");
    s.Find<QComboBox>("portCombo")->setEditText("/dev/pts/7");
    s.window->AddRecordLine("x", LineStyle::Stamped);
    s.window->SaveRecords(true);  // quiet: the hourly save shows nothing
    auto reports = Reports(s.dir);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].filename().string().starts_with("Report-7 ")) << reports[0];
    EXPECT_TRUE(s.messages.shown.empty());
}
