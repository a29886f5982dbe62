// The remote output-device dialog: number fields, the confirmation texts, Cancel, and the
// request as the station receives it through the host node.
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include "manager/ui/remote_dialog.h"
#include "tests/ui/window_session.h"

using namespace meradon;
using namespace meradon_ui_test;

namespace {

const QString H = "该操作将指示无线接收站点进行如下操作:         \r\n\r\n";
const QString C1 = "   [1] 关闭当前的数据输出通道或设备\r\n";
const QString Q = "您确认要继续进行吗?";

struct Dialog {
    explicit Dialog(WindowSession &s) : dialog(s.State(), s.window.get()) { dialog.show(); }
    template <typename T>
    T *Find(const char *name) {
        T *w = dialog.findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Choose(int device) { Find<QComboBox>("deviceCombo")->setCurrentIndex(device); }
    void Field(const char *name, const QString &text) { Find<QLineEdit>(name)->setText(text); }
    void Hex(bool on) { Find<QCheckBox>("hexCheck")->setChecked(on); }
    void Set() { Find<QPushButton>("setDeviceButton")->click(); }
    void Clear() { Find<QPushButton>("clearDeviceButton")->click(); }

    ui::RemoteDialog dialog;
};

std::size_t StreamFrames(WindowSession &s) {
    std::size_t n = 0;
    for (const auto &f : s.sim->Received()) n += f.Code() == 0x1D;
    return n;
}

}  // namespace

TEST(RemoteDialog, NumbersReadAsTheStationsDo) {
    EXPECT_EQ(ui::ParseDeviceNumber("1000", 16), 0x1000u);
    EXPECT_EQ(ui::ParseDeviceNumber("1000", 10), 1000u);
    EXPECT_EQ(ui::ParseDeviceNumber("  12AB", 10), 12u);
    EXPECT_EQ(ui::ParseDeviceNumber("0x1F", 16), 0x1Fu);
    EXPECT_EQ(ui::ParseDeviceNumber("ZZ", 16), 0u);
    EXPECT_EQ(ui::ParseDeviceNumber("FFFFFFFF", 16), 0xFFFFFFFFu);
    EXPECT_EQ(ui::ParseDeviceNumber("4294967295", 10), 0xFFFFFFFFu);
    EXPECT_EQ(ui::ParseDeviceNumber("99999999999", 10), 0xFFFFFFFFu);
    EXPECT_EQ(ui::ParseDeviceNumber("-1", 10), 0xFFFFFFFFu);
    // One sign, then digits: anything else converts nothing.
    EXPECT_EQ(ui::ParseDeviceNumber("- 5", 10), 0u);
    EXPECT_EQ(ui::ParseDeviceNumber("--1", 10), 0u);
    EXPECT_EQ(ui::ParseDeviceNumber("+-1", 16), 0u);
    EXPECT_EQ(ui::ParseDeviceNumber(" +7", 10), 7u);
}

TEST(RemoteDialog, FieldsFollowTheDeviceAndClearActsOnlyOnMemories) {
    WindowSession s("ui-remote-fields");
    Dialog d(s);
    EXPECT_EQ(d.dialog.windowTitle(), "Zelkora Wireless Network Manager -  远程设置");
    EXPECT_EQ(d.Find<QComboBox>("deviceCombo")->count(), 6);
    // Before any change everything is enabled, but clearing a UART does nothing.
    EXPECT_TRUE(d.Find<QLineEdit>("addressEdit")->isEnabled());
    d.Clear();
    EXPECT_TRUE(s.messages.shown.empty());

    d.Choose(2);  // LCD
    EXPECT_TRUE(d.Find<QLineEdit>("rowEdit")->isEnabled());
    EXPECT_FALSE(d.Find<QLineEdit>("addressEdit")->isEnabled());
    EXPECT_TRUE(d.Find<QPushButton>("clearDeviceButton")->isEnabled());
    d.Choose(4);  // EEPROM
    EXPECT_TRUE(d.Find<QLineEdit>("addressEdit")->isEnabled());
    EXPECT_FALSE(d.Find<QLineEdit>("columnEdit")->isEnabled());
    d.Choose(5);  // default
    EXPECT_FALSE(d.Find<QPushButton>("clearDeviceButton")->isEnabled());
    EXPECT_FALSE(d.Find<QCheckBox>("hexCheck")->isEnabled());
    EXPECT_TRUE(d.Find<QPushButton>("setDeviceButton")->isEnabled());
}

TEST(RemoteDialog, ConfirmedRequestsReachTheStation) {
    WindowSession s("ui-remote");
    s.sim->AddStations({5}, true);
    s.sim->UpdateSettings([](hostsim::HostSettings &h) { h.peer = 5; });
    ASSERT_TRUE(s.OpenInCommandMode());
    s.messages.shown.clear();
    s.Click("dataModeRadio");
    ASSERT_EQ(s.State().peerNode.load(), 5);
    Dialog d(s);

    // Flash at 0x1000, hexadecimal; Cancel first sends nothing.
    d.Choose(3);
    d.Hex(true);
    d.Field("addressEdit", "1000");
    s.messages.answer = false;
    const std::size_t streams = StreamFrames(s);
    d.Set();
    ASSERT_EQ(s.messages.shown.size(), 1u);
    EXPECT_EQ(s.messages.shown[0].text,
              H + C1 + "   [2] 将收到的数据输出到串行 Flash 设备\r\n   [3] 设备初始读写位置为 0X00001000\r\n\r\n" + Q);
    EXPECT_EQ(s.messages.shown[0].caption, "提示");
    EXPECT_TRUE(s.messages.shown[0].okCancel);
    EXPECT_FALSE(WaitFor([&] { return StreamFrames(s) != streams; }, 300));

    s.messages.answer = true;
    d.Set();
    ASSERT_TRUE(s.sim->WaitUntil(
        [](const hostsim::HostNode &n) {
            const auto &dev = n.Model().stations.At(5).devices;
            return dev.Selected() == OUT_FLASH && dev.Position() == 0x1000;
        },
        hostsim::Millis(3000)));
    auto frame = s.sim->WaitForReceived(hostsim::WithCode(0x1D), hostsim::Millis(0));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Node(), 5);
    EXPECT_EQ(frame->Payload()[1], 0x71);  // the select command inside the stream frame

    // LCD at row 2, column 5 in decimal.
    d.Hex(false);
    d.Choose(2);
    d.Field("rowEdit", "2");
    d.Field("columnEdit", "5");
    s.messages.shown.clear();
    d.Set();
    EXPECT_EQ(s.messages.shown.at(0).text,
              H + C1 + "   [2] 将收到的数据输出到 LCD 液晶屏\r\n   [3] 设备初始显示坐标为 (2, 5)\r\n\r\n" + Q);
    ASSERT_TRUE(s.sim->WaitUntil(
        [](const hostsim::HostNode &n) {
            const auto &dev = n.Model().stations.At(5).devices;
            return dev.Selected() == OUT_LCD && dev.Position() == 2u * 65536 + 5 && dev.Setting() == 2;
        },
        hostsim::Millis(3000)));

    // A row beyond 16 bits would name another place: refused, nothing sent.
    d.Field("rowEdit", "65536");
    s.messages.shown.clear();
    const std::size_t beforeRefusal = StreamFrames(s);
    d.Set();
    ASSERT_EQ(s.messages.shown.size(), 1u);
    EXPECT_EQ(s.messages.shown[0].text, "输入越界,有效的坐标在0-65535");
    EXPECT_FALSE(WaitFor([&] { return StreamFrames(s) != beforeRefusal; }, 300));

    // Whole-device and partial clears of a memory: the warning texts.
    d.Choose(4);
    d.Hex(true);
    d.Field("addressEdit", "20");
    d.Field("sizeEdit", "FFFFFFFF");
    s.messages.shown.clear();
    s.messages.answer = false;
    d.Clear();
    d.Field("sizeEdit", "10");
    d.Clear();
    ASSERT_EQ(s.messages.shown.size(), 2u);
    EXPECT_EQ(s.messages.shown[0].text,
              H + "   [1] 串行 EEPROM 设备初始读写位置为 0X00000020\r\n   [2] 清除整个串行 EEPROM 设备");
    EXPECT_EQ(s.messages.shown[1].text,
              H + "   [1] 串行 EEPROM 设备初始读写位置为 0X00000020\r\n   [2] 清除串行 EEPROM 设备 16 个字符\r\n\r\n"
                  "请注意:\r\n   该操作可能导致不可恢复的数据损坏\r\n\r\n" + Q);
    EXPECT_EQ(s.messages.shown[1].caption, "警告");
    EXPECT_EQ(s.messages.shown[1].icon, QMessageBox::Warning);
}
