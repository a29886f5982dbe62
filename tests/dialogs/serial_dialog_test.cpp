// The serial set-up dialog against hostsim on a pseudo-terminal that answers at one rate.
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

#include "setup/dialogs/serial_setup_dialog.h"
#include "sim/host_sim.h"
#include "tests/dialogs/dialog_test_support.h"

namespace dialogtest {
namespace {

using tevrolink::dialogs::SerialSetupDialog;

constexpr auto kSearchTimeout = 30s;

ComSettings Settings(const std::string &port, uint32_t baudRate) {
    ComSettings settings{};
    std::strncpy(settings.portName, port.c_str(), sizeof settings.portName - 1);
    settings.baudRate = baudRate;
    return settings;
}

QStringList LogLines(const SerialSetupDialog &dialog) {
    QStringList lines;
    const auto *log = Find<QListWidget>(&dialog, "searchLog");
    for (int i = 0; i < log->count(); ++i) lines << log->item(i)->text();
    return lines;
}

QStringList Heading(const std::string &port) {
    return {QString::fromStdString("                   通过串口 " + port + " 搜索设备"),
            " ============================", ""};
}

QString TestLine(int number, unsigned rate) {
    return QString("[%1]  正在测试波特率 %2 ...").arg(number).arg(rate);
}

bool CommandsEnabled(const SerialSetupDialog &dialog) {
    return Find<QPushButton>(&dialog, "setRateButton")->isEnabled() &&
           Find<QPushButton>(&dialog, "searchButton")->isEnabled() &&
           Find<QPushButton>(&dialog, "closeButton")->isEnabled();
}

class SerialDialogTest : public ::testing::Test {
protected:
    // A host node that answers only while the line runs at 57600 bit/s.
    void StartDevice() {
        hostsim::PtyOptions options;
        options.baud = 57600;
        sim_ = hostsim::HostSim::StartPty(options);
        port_ = sim_->PtyPath();
    }

    bool Search(SerialSetupDialog &dialog) {
        Find<QPushButton>(&dialog, "searchButton")->click();
        return WaitUntil([&] { return !dialog.Searching(); }, kSearchTimeout);
    }

    MessageRecorder messages_;
    std::unique_ptr<hostsim::HostSim> sim_;
    std::string port_;
};

TEST_F(SerialDialogTest, FindsDeviceOnFifthRateWhileCloseAndEscAreIgnored) {
    StartDevice();
    ComSettings settings = Settings(port_, 19200);
    SerialSetupDialog dialog(&settings);
    dialog.show();

    Find<QPushButton>(&dialog, "searchButton")->click();
    ASSERT_TRUE(dialog.Searching());
    EXPECT_FALSE(Find<QPushButton>(&dialog, "setRateButton")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(&dialog, "searchButton")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(&dialog, "closeButton")->isEnabled());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    EXPECT_TRUE(dialog.isVisible()) << "the dialog closed during a search";

    ASSERT_TRUE(WaitUntil([&] { return !dialog.Searching(); }, kSearchTimeout));
    QStringList expected = Heading(port_);
    const unsigned rates[] = {9600, 14400, 19200, 38400, 57600};
    for (int i = 0; i < 5; ++i) expected << TestLine(i + 1, rates[i]);
    expected << "       检测到设备 HostSim V1.00" << ""
             << " ************ 设备搜索完成 ************ "
             << QString::fromStdString("[X]  本机串口 " + port_ + " 波特率为 57600");
    EXPECT_EQ(LogLines(dialog), expected);
    const auto *log = Find<QListWidget>(&dialog, "searchLog");
    EXPECT_EQ(log->currentRow(), log->count() - 1);
    EXPECT_EQ(Find<QComboBox>(&dialog, "baudRateList")->currentText(), "57600");
    EXPECT_EQ(settings.baudRate, 57600u);
    EXPECT_TRUE(CommandsEnabled(dialog));

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
}

TEST_F(SerialDialogTest, MissingPortEndsSearchAfterFirstTryAndRefusesSetting) {
    const std::string missing = "/dev/tevrolink-no-such-port";
    ComSettings settings = Settings(missing, 38400);
    SerialSetupDialog dialog(&settings);

    ASSERT_TRUE(Search(dialog));
    QStringList expected = Heading(missing);
    expected << TestLine(1, 9600)
             << QString::fromStdString("       打开串口设备 " + missing + " 失败");
    EXPECT_EQ(LogLines(dialog), expected);
    EXPECT_EQ(settings.baudRate, 38400u);
    EXPECT_TRUE(CommandsEnabled(dialog));

    Find<QPushButton>(&dialog, "setRateButton")->click();
    EXPECT_EQ(messages_.Texts(), QStringList{QString::fromStdString("打开串口 " + missing + " 失败")});
    EXPECT_EQ(messages_.LastIcon(), QMessageBox::Information);
}

TEST_F(SerialDialogTest, UnlistedRateSelects19200AndTitleShowsTheRecord) {
    ComSettings settings = Settings("ttyUSB0", 4800);
    SerialSetupDialog dialog(&settings);
    EXPECT_EQ(Find<QComboBox>(&dialog, "baudRateList")->currentText(), "19200");
    EXPECT_EQ(dialog.windowTitle(), "Zelkora Wireless Network Manager - ttyUSB0:4800");

    ComSettings fastest = Settings("ttyUSB0", 115200);
    SerialSetupDialog other(&fastest);
    EXPECT_EQ(Find<QComboBox>(&other, "baudRateList")->currentIndex(), 5);
}

TEST_F(SerialDialogTest, SettingSendsCodeOfSelectedRateAtTheRecordedRate) {
    StartDevice();
    ComSettings settings = Settings(port_, 57600);
    SerialSetupDialog dialog(&settings);
    auto *rates = Find<QComboBox>(&dialog, "baudRateList");
    auto *set = Find<QPushButton>(&dialog, "setRateButton");

    rates->setCurrentText("115200");
    set->click();
    EXPECT_EQ(messages_.Texts(), QStringList{"波特率设置成功，请重新启动无线设备"});
    auto command = sim_->WaitForReceived(hostsim::WithCode(0x38), hostsim::Millis(0));
    ASSERT_TRUE(command);
    ASSERT_FALSE(command->Payload().empty());
    EXPECT_EQ(command->Payload()[0], 0x41);
    EXPECT_EQ(sim_->Settings().baudCode, 0x41);
    EXPECT_EQ(settings.baudRate, 57600u) << "the device uses the new rate only after a restart";

    // The record says the device runs at 9600: the port is opened at that rate and the
    // device, still at 57600, does not hear the command.
    messages_.Clear();
    settings.baudRate = 9600;
    rates->setCurrentText("57600");
    set->click();
    EXPECT_EQ(messages_.Texts(), QStringList{"波特率设置失败"});
    EXPECT_EQ(sim_->Settings().baudCode, 0x41);

    messages_.Clear();
    settings.baudRate = 57600;
    set->click();
    EXPECT_EQ(messages_.Texts(), QStringList{"波特率设置成功，请重新启动无线设备"});
    EXPECT_EQ(sim_->Settings().baudCode, 0x28);
}

TEST_F(SerialDialogTest, ActivationNamesTheDialogUntilItEnds) {
    void *activeWindow = nullptr;
    ComSettings settings = Settings("ttyUSB0", 19200);
    settings.activeWindow = &activeWindow;
    {
        SerialSetupDialog dialog(&settings);
        dialog.show();
        dialog.activateWindow();
        EXPECT_TRUE(WaitUntil([&] { return activeWindow == &dialog; }, 5s));
    }
    EXPECT_EQ(activeWindow, nullptr);
}

}  // namespace
}  // namespace dialogtest
