// The network set-up dialog: the PC side from a given set of adapters, and the device side
// against emulated devices in the test's private network.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

#include "setup/dialogs/network_setup_dialog.h"
#include "setup/text_encoding.h"
#include "tests/dialogs/dialog_test_support.h"
#include "sim/device_emulator.h"
#include "tests/support/private_network.h"

namespace dialogtest {
namespace {

using tevrolink::AdapterInfo;
using tevrolink::dialogs::NetworkSetupDialog;
using tevrolink::dialogs::PcNetwork;

// eth0 configured by hand; wlan0 by a manager that did not say how it got its address;
// eth1, first in the system's order, has no IPv4 address.
PcNetwork TestPc() {
    AdapterInfo unaddressed;
    unaddressed.name = "eth1";
    unaddressed.description = "eth1 (r8169)";
    AdapterInfo wired;
    wired.name = "eth0";
    wired.description = "eth0 (e1000e)";
    wired.mac = std::array<uint8_t, 6>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    wired.address = 0xC0A80105;  // 192.168.1.5
    wired.mask = 0xFFFFFF00;
    wired.gateway = 0xC0A80101;
    wired.dhcp = false;
    wired.autoDns = false;
    wired.dnsServers = {0x08080808, 0x01010101};
    AdapterInfo wireless;
    wireless.name = "wlan0";
    wireless.description = "wlan0 (iwlwifi)";
    wireless.address = 0x0A000007;  // 10.0.0.7
    wireless.mask = 0xFF000000;
    wireless.gateway = 0x0A000001;
    wireless.autoDns = true;
    wireless.dnsServers = {0x0A000001};
    return {{unaddressed, wired, wireless},
            tevrolink::SortedNonLoopback({0xC0A80105, 0x7F000001, 0x0A000007})};
}

NetSettings Settings(const char *localAddress, uint16_t localPort) {
    NetSettings settings{};
    std::strncpy(settings.localAddress, localAddress, sizeof settings.localAddress - 1);
    settings.localPort = localPort;
    return settings;
}

QStringList Items(const QComboBox *list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

QString Text(const QWidget *dialog, const char *name) {
    return Find<QLineEdit>(dialog, name)->text();
}

void SetText(const QWidget *dialog, const char *name, const QString &text) {
    Find<QLineEdit>(dialog, name)->setText(text);
}

bool Checked(const QWidget *dialog, const char *name) {
    return Find<QRadioButton>(dialog, name)->isChecked();
}

bool Enabled(const QWidget *dialog, const char *name) {
    return dialog->findChild<QWidget *>(name)->isEnabled();
}

void Click(const QWidget *dialog, const char *name) {
    Find<QPushButton>(dialog, name)->click();
}

TEST(NetworkDialogPcSide, ShowsAdaptersReadOnlyAndTheLocalChoice) {
    NetSettings settings = Settings("192.168.1.5", 10086);
    NetworkSetupDialog dialog(&settings, TestPc());

    EXPECT_EQ(dialog.windowTitle(), "Zelkora Wireless Network Manager - 192.168.1.5:10086");
    const auto *local = Find<QComboBox>(&dialog, "localAddressList");
    EXPECT_EQ(Items(local), QStringList({"All Interfaces", "10.0.0.7", "192.168.1.5"}));
    EXPECT_EQ(local->currentIndex(), 2);
    EXPECT_EQ(Text(&dialog, "localPort"), "10086");
    // The adapter shown first has an address; one without comes last.
    EXPECT_EQ(Items(Find<QComboBox>(&dialog, "adapterList")),
              QStringList({"eth0 (e1000e)", "wlan0 (iwlwifi)", "eth1 (r8169)"}));
    EXPECT_EQ(Text(&dialog, "adapterMac"), "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(Text(&dialog, "adapterAddress"), "192.168.1.5");
    EXPECT_EQ(Text(&dialog, "adapterMask"), "255.255.255.0");
    EXPECT_EQ(Text(&dialog, "adapterGateway"), "192.168.1.1");
    EXPECT_TRUE(Checked(&dialog, "adapterStaticRadio"));
    EXPECT_TRUE(Checked(&dialog, "adapterManualDnsRadio"));
    EXPECT_EQ(Text(&dialog, "adapterPrimaryDns"), "8.8.8.8");
    EXPECT_EQ(Text(&dialog, "adapterSecondaryDns"), "1.1.1.1");
    for (const char *name : {"adapterAddress", "adapterMask", "adapterGateway",
                             "adapterPrimaryDns", "adapterSecondaryDns", "adapterDhcpRadio",
                             "adapterStaticRadio", "adapterAutoDnsRadio", "adapterManualDnsRadio"})
        EXPECT_FALSE(Enabled(&dialog, name)) << name;
    EXPECT_TRUE(Enabled(&dialog, "searchButton"));
    EXPECT_TRUE(Enabled(&dialog, "copyButton"));
    EXPECT_FALSE(Enabled(&dialog, "changeButton"));

    Find<QComboBox>(&dialog, "adapterList")->setCurrentIndex(1);
    EXPECT_EQ(Text(&dialog, "adapterAddress"), "10.0.0.7");
    EXPECT_EQ(Text(&dialog, "adapterMac"), "") << "no MAC address was known";
    EXPECT_FALSE(Checked(&dialog, "adapterDhcpRadio")) << "an unknown state is not invented";
    EXPECT_FALSE(Checked(&dialog, "adapterStaticRadio"));
    EXPECT_TRUE(Checked(&dialog, "adapterAutoDnsRadio"));
    EXPECT_EQ(Text(&dialog, "adapterPrimaryDns"), "10.0.0.1");
}

TEST(NetworkDialogPcSide, CopyFillsTheDeviceSideFromTheChosenAdapterAndLocalAddress) {
    NetSettings settings = Settings("", 10086);
    NetworkSetupDialog dialog(&settings, TestPc());
    EXPECT_EQ(dialog.windowTitle(), "Zelkora Wireless Network Manager - All Interfaces:10086");

    Click(&dialog, "copyButton");
    EXPECT_EQ(Text(&dialog, "deviceAddress"), "192.168.1.5");
    EXPECT_EQ(Text(&dialog, "deviceMask"), "255.255.255.0");
    EXPECT_EQ(Text(&dialog, "deviceGateway"), "192.168.1.1");
    EXPECT_EQ(Text(&dialog, "devicePrimaryDns"), "8.8.8.8");
    EXPECT_EQ(Text(&dialog, "deviceSecondaryDns"), "1.1.1.1");
    EXPECT_TRUE(Checked(&dialog, "deviceStaticAddressRadio"));
    EXPECT_TRUE(Checked(&dialog, "deviceManualDnsRadio"));
    EXPECT_TRUE(Enabled(&dialog, "deviceAddress"));
    EXPECT_TRUE(Enabled(&dialog, "devicePrimaryDns"));
    // "All Interfaces" is no address: the first real one stands in for it.
    EXPECT_EQ(Text(&dialog, "centreAddress"), "10.0.0.7");
    EXPECT_EQ(Text(&dialog, "centrePort"), "10086");

    Find<QComboBox>(&dialog, "adapterList")->setCurrentIndex(1);
    Find<QComboBox>(&dialog, "localAddressList")->setCurrentIndex(2);
    SetText(&dialog, "localPort", "20000");
    Click(&dialog, "copyButton");
    EXPECT_EQ(Text(&dialog, "deviceAddress"), "10.0.0.7");
    // How wlan0 got its address is unknown: the device side keeps the choice it had.
    EXPECT_TRUE(Checked(&dialog, "deviceStaticAddressRadio"));
    EXPECT_TRUE(Enabled(&dialog, "deviceAddress"));
    EXPECT_TRUE(Checked(&dialog, "deviceAutoDnsRadio"));
    EXPECT_FALSE(Enabled(&dialog, "devicePrimaryDns"));
    EXPECT_EQ(Text(&dialog, "centreAddress"), "192.168.1.5");
    EXPECT_EQ(Text(&dialog, "centrePort"), "20000");
}

TEST(NetworkDialogPcSide, OkKeepsTheLocalChoiceAndCancelDoesNot) {
    NetSettings settings = Settings("192.168.1.5", 10086);
    auto chooseAllInterfacesOnPort = [](NetworkSetupDialog &dialog, const char *port) {
        Find<QComboBox>(&dialog, "localAddressList")->setCurrentIndex(0);
        SetText(&dialog, "localPort", port);
    };
    {
        NetworkSetupDialog dialog(&settings, TestPc());
        chooseAllInterfacesOnPort(dialog, "75536");
        Click(&dialog, "cancelButton");
        EXPECT_EQ(dialog.result(), 0);
    }
    EXPECT_STREQ(settings.localAddress, "192.168.1.5");
    EXPECT_EQ(settings.localPort, 10086);
    {
        NetworkSetupDialog dialog(&settings, TestPc());
        chooseAllInterfacesOnPort(dialog, "75536");
        Click(&dialog, "okButton");
        EXPECT_EQ(dialog.result(), 0);
    }
    EXPECT_STREQ(settings.localAddress, "");
    EXPECT_EQ(settings.localPort, 75536 - 65536);
    NetworkSetupDialog reopened(&settings, TestPc());
    EXPECT_EQ(reopened.windowTitle(), "Zelkora Wireless Network Manager - All Interfaces:10000");
    Find<QComboBox>(&reopened, "localAddressList")->setCurrentIndex(1);
    Click(&reopened, "okButton");
    EXPECT_STREQ(settings.localAddress, "10.0.0.7");
}

TEST(NetworkDialogPcSide, WithoutAdaptersNothingCanBeSearchedAndOkClearsTheChoice) {
    NetSettings settings = Settings("192.168.1.5", 10086);
    NetworkSetupDialog dialog(&settings, PcNetwork{});
    EXPECT_FALSE(Enabled(&dialog, "searchButton"));
    EXPECT_FALSE(Enabled(&dialog, "copyButton"));
    EXPECT_EQ(Find<QComboBox>(&dialog, "localAddressList")->count(), 0);
    EXPECT_EQ(Text(&dialog, "localPort"), "");
    Click(&dialog, "okButton");
    EXPECT_STREQ(settings.localAddress, "");
    EXPECT_EQ(settings.localPort, 0);
}

// ---- against devices ------------------------------------------------------------------

std::string Gbk(const char *utf8) {
    return tevrolink::Utf8ToGbk(utf8);
}

// A device of the test network 192.168.1.0, whose MAC address ends in `macLast`.
hostsim::NetworkDevice Device(const char *address, const char *mask, const char *gateway,
                              uint8_t macLast, const char *centre, uint16_t centrePort,
                              const std::string &description, unsigned answersPerSearch = 1) {
    hostsim::NetworkDevice device;
    device.entry = hostsim::MakeDeviceEntry({.address = address,
                                             .mask = mask,
                                             .gateway = gateway,
                                             .primaryDns = "8.8.8.8",
                                             .secondaryDns = "8.8.4.4",
                                             .centre = centre,
                                             .centrePort = centrePort,
                                             .mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, macLast},
                                             .description = description});
    device.behaviour.answersPerSearch = answersPerSearch;
    return device;
}

class DeviceSideTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string &why = testsupport::EnterPrivateNetwork(); !why.empty())
            GTEST_SKIP() << "no private network for broadcasts: " << why;
        segment_ = std::make_unique<testsupport::DeviceSegment>("pc0", 1);
        if (!segment_->Failure().empty()) GTEST_SKIP() << segment_->Failure();
    }

    void StartDevices(std::vector<hostsim::NetworkDevice> devices) {
        devices_ = segment_->MakeInside<hostsim::DeviceEmulator>(std::move(devices), "0.0.0.0",
                                                                 DEVICE_PORT, segment_->Subnet());
    }

    QTableWidget *Table() { return Find<QTableWidget>(dialog_.get(), "deviceTable"); }

    void OpenAndSearch() {
        dialog_ = std::make_unique<NetworkSetupDialog>(&settings_, TestPc());
        dialog_->show();
        Click(dialog_.get(), "searchButton");
    }

    QStringList Row(int row) {
        QStringList texts;
        for (int column = 0; column < Table()->columnCount(); ++column)
            texts << Table()->item(row, column)->text();
        return texts;
    }

    hostsim::NetworkDevice gate_ = Device("192.168.1.20", "255.255.255.0", "192.168.1.1", 0x01,
                                          "192.168.1.5", 10086, "Gate A");
    hostsim::NetworkDevice second_ = Device("192.168.1.21", "255.255.255.0", "192.168.1.1",
                                            0x02, "192.168.1.5", 10087, Gbk("二号机"), 2);
    NetSettings settings_ = Settings("", 10086);
    MessageRecorder messages_;
    std::unique_ptr<testsupport::DeviceSegment> segment_;
    std::unique_ptr<hostsim::DeviceEmulator> devices_;
    std::unique_ptr<NetworkSetupDialog> dialog_;
};

TEST_F(DeviceSideTest, SearchListsAnswersInArrivalOrderKeepingDuplicates) {
    hostsim::NetworkDevice full =
        Device("192.168.1.22", "255.255.0.0", "192.168.0.1", 0x03, "10.0.0.7", 65535, "");
    std::memset(full.entry.description, 'X', sizeof full.entry.description);
    StartDevices({gate_, second_, full});
    OpenAndSearch();

    ASSERT_EQ(Table()->rowCount(), 4);
    EXPECT_EQ(Row(0), QStringList({"1", "192.168.1.20", "255.255.255.0", "192.168.1.1",
                                   "192.168.1.5:10086", "Gate A"}));
    EXPECT_EQ(Row(1), QStringList({"2", "192.168.1.21", "255.255.255.0", "192.168.1.1",
                                   "192.168.1.5:10087", "二号机"}));
    EXPECT_EQ(Row(2), QStringList({"3", "192.168.1.21", "255.255.255.0", "192.168.1.1",
                                   "192.168.1.5:10087", "二号机"}));
    EXPECT_EQ(Row(3), QStringList({"4", "192.168.1.22", "255.255.0.0", "192.168.0.1",
                                   "10.0.0.7:65535", QString(32, 'X')}));
    EXPECT_EQ(Table()->item(3, 1)->textAlignment(), Qt::AlignCenter);
    EXPECT_EQ(Table()->columnWidth(1), 100);
    EXPECT_FALSE(Enabled(dialog_.get(), "changeButton"));

    Table()->setCurrentCell(3, 1);
    EXPECT_EQ(Text(dialog_.get(), "deviceDescription"), QString(32, 'X'));

    Click(dialog_.get(), "searchButton");
    EXPECT_EQ(Table()->rowCount(), 4) << "a new search starts from an empty table";
    EXPECT_EQ(devices_->Log(0).searches, 2u);
}

TEST_F(DeviceSideTest, ChoosingRowMarksOnlyItAndTakesItsAddressEvenIfCancelled) {
    second_.entry.autoAddress = 1;
    StartDevices({gate_, second_});
    QLineEdit remoteAddress;
    settings_.addressWindow = &remoteAddress;
    OpenAndSearch();
    ASSERT_EQ(Table()->rowCount(), 3);

    const QPoint third = Table()->visualItemRect(Table()->item(2, 2)).center();
    // As a window system delivers it: press and release, then the second press.
    QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {}, third);
    QTest::mouseDClick(Table()->viewport(), Qt::LeftButton, {}, third);
    EXPECT_EQ(Row(0)[0], "1");
    EXPECT_EQ(Row(1)[0], "2");
    EXPECT_EQ(Row(2)[0], "3√");
    EXPECT_STREQ(settings_.deviceAddress, "192.168.1.21");
    EXPECT_EQ(remoteAddress.text(), "192.168.1.21");
    // The device shown is the chosen one; it obtains its address, so the fields are closed.
    EXPECT_EQ(Text(dialog_.get(), "deviceMac"), "00-1A-2B-3C-4D-02");
    EXPECT_EQ(Text(dialog_.get(), "centrePort"), "10087");
    EXPECT_TRUE(Checked(dialog_.get(), "deviceAutoAddressRadio"));
    EXPECT_FALSE(Enabled(dialog_.get(), "deviceAddress"));
    EXPECT_TRUE(Checked(dialog_.get(), "deviceManualDnsRadio"));
    EXPECT_TRUE(Enabled(dialog_.get(), "devicePrimaryDns"));
    EXPECT_TRUE(Enabled(dialog_.get(), "changeButton"));

    Table()->setCurrentCell(0, 0);
    Table()->setFocus();
    QTest::keyClick(Table(), Qt::Key_Return);
    EXPECT_EQ(Table()->rowCount(), 3) << "Enter on the table must not start a search";
    EXPECT_EQ(Row(0)[0], "1√");
    EXPECT_EQ(Row(2)[0], "3");
    EXPECT_STREQ(settings_.deviceAddress, "192.168.1.20");
    EXPECT_TRUE(Enabled(dialog_.get(), "deviceAddress"));

    Click(dialog_.get(), "cancelButton");
    EXPECT_STREQ(settings_.deviceAddress, "192.168.1.20");
    EXPECT_EQ(remoteAddress.text(), "192.168.1.20");
    EXPECT_STREQ(settings_.localAddress, "");
}

// The chosen local address sends only through the adapter that holds it; here none does.
TEST_F(DeviceSideTest, SearchThatLeavesOnNoAdapterSaysWhy) {
    StartDevices({gate_});
    settings_ = Settings("192.168.1.5", 10086);
    OpenAndSearch();
    EXPECT_EQ(messages_.Texts(), QStringList{"可广播的网卡上没有可用的 IPv4 地址，无法发送"});
    EXPECT_EQ(Table()->rowCount(), 0);
    EXPECT_TRUE(devices_->Received().empty());

    Find<QComboBox>(dialog_.get(), "localAddressList")->setCurrentIndex(0);
    Click(dialog_.get(), "searchButton");
    EXPECT_EQ(Table()->rowCount(), 1) << "All Interfaces reaches the segment";
}

TEST_F(DeviceSideTest, ChangeRefusesEachInvalidFieldAndSendsAValidUpdate) {
    StartDevices({gate_});
    OpenAndSearch();
    ASSERT_EQ(Table()->rowCount(), 1);
    Table()->setCurrentCell(0, 1);
    QWidget *dialog = dialog_.get();

    struct Refusal {
        const char *field;
        const char *text;
        const char *message;
    };
    const Refusal refusals[] = {
        {"deviceAddress", "", "IP 地址输入错误"},
        {"deviceMask", "0.0.0.0", "Subnet 输入错误"},
        {"deviceGateway", "", "Gateway 输入错误"},
        {"centreAddress", "", "控制中心网络地址输入错误"},
        {"centrePort", "0", "控制中心端口输入错误"},
        {"centrePort", "65536", "控制中心端口输入错误"},
    };
    // The address must be given even for a device that obtains one.
    Find<QRadioButton>(dialog, "deviceAutoAddressRadio")->setChecked(true);
    for (const Refusal &refusal : refusals) {
        const QString kept = Text(dialog, refusal.field);
        SetText(dialog, refusal.field, refusal.text);
        messages_.Clear();
        Click(dialog, "changeButton");
        EXPECT_EQ(messages_.Texts(), QStringList{refusal.message}) << refusal.field;
        SetText(dialog, refusal.field, kept);
    }
    Find<QRadioButton>(dialog, "deviceStaticAddressRadio")->setChecked(true);

    SetText(dialog, "deviceAddress", "192.168.1.99");
    SetText(dialog, "deviceDescription", "新名字");
    SetText(dialog, "centrePort", "70000");
    messages_.Clear();
    Click(dialog, "changeButton");
    EXPECT_EQ(messages_.Texts(), QStringList{"配置信息更改成功"});

    const auto updates = devices_->Log(0).updates;
    ASSERT_EQ(updates.size(), 1u) << "a refused change sends nothing";
    ASSERT_EQ(updates[0].size(), 74u);
    EXPECT_EQ(updates[0][1], 0x36);
    EXPECT_EQ(updates[0][5], 0x42);
    const DeviceEntry applied = devices_->Entries()[0];
    const uint8_t address[4] = {192, 168, 1, 99};
    EXPECT_EQ(std::memcmp(applied.ipAddress, address, 4), 0);
    EXPECT_EQ(applied.centrePort[0] << 8 | applied.centrePort[1], 70000 - 65536);
    EXPECT_EQ(std::string(applied.description), Gbk("新名字"));
    EXPECT_EQ(applied.autoAddress, 0);
    EXPECT_EQ(std::memcmp(applied.macAddress, gate_.entry.macAddress, 6), 0);

    // An update for a MAC address nobody has goes unanswered: no message.
    SetText(dialog, "deviceMac", "00-00-00-00-00-09");
    messages_.Clear();
    Click(dialog, "changeButton");
    EXPECT_TRUE(messages_.Texts().isEmpty());
    EXPECT_EQ(devices_->Entries()[0].centrePort[1], applied.centrePort[1]);
}

TEST_F(DeviceSideTest, TypedValuesStayUntilAnotherDeviceAndAnUnknownPcChoiceIsNotSent) {
    second_.entry.autoAddress = 1;
    StartDevices({gate_, second_});
    OpenAndSearch();
    ASSERT_EQ(Table()->rowCount(), 3);
    QWidget *dialog = dialog_.get();
    Table()->setCurrentCell(1, 1);
    SetText(dialog, "deviceDescription", "typed");
    // Another cell of the same row, clicked and then chosen: the same device.
    const QPoint sameRow = Table()->visualItemRect(Table()->item(1, 4)).center();
    QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {}, sameRow);
    QTest::mouseDClick(Table()->viewport(), Qt::LeftButton, {}, sameRow);
    EXPECT_EQ(Row(1)[0], "2√");
    EXPECT_EQ(Text(dialog, "deviceDescription"), "typed");

    // wlan0 does not say whether it uses DHCP, but does say its DNS is automatic.
    Find<QComboBox>(dialog, "adapterList")->setCurrentIndex(1);
    Click(dialog, "copyButton");
    EXPECT_TRUE(Checked(dialog, "deviceAutoAddressRadio")) << "the device's own choice";
    messages_.Clear();
    Click(dialog, "changeButton");
    EXPECT_EQ(messages_.Texts(), QStringList{"配置信息更改成功"});
    const DeviceEntry applied = devices_->Entries()[1];
    EXPECT_EQ(applied.autoAddress, 1);
    EXPECT_EQ(applied.autoDns, 1);
    EXPECT_EQ(std::string(applied.description), "typed");

    Table()->setCurrentCell(0, 1);
    EXPECT_EQ(Text(dialog, "deviceDescription"), "Gate A") << "another device is shown";
}

}  // namespace
}  // namespace dialogtest
