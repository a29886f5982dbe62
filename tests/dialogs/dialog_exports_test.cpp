// The C interface of libtevrolink-dialogs, called as a console program calls it: there is
// no QApplication until the library makes one for the dialog.
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "tests/support/private_network.h"
#include "tevrolink/tevrolink.h"

namespace {

// What to do with the dialog once it runs; set by each test.
std::function<void(QWidget *dialog)> handleDialog;
int applicationsMade = 0;

void OnApplicationMade() {
    ++applicationsMade;
    QTimer::singleShot(0, [] {
        QWidget *dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        handleDialog(dialog);
    });
}

void Press(QWidget *dialog, const char *button) {
    auto *found = dialog->findChild<QPushButton *>(button);
    ASSERT_NE(found, nullptr) << button;
    found->click();
}

TEST(DialogExports, SerialDialogRunsWithoutAnApplicationOfItsOwn) {
    QString title, selected, okButton;
    handleDialog = [&](QWidget *dialog) {
        title = dialog->windowTitle();
        selected = dialog->findChild<QComboBox *>("baudRateList")->currentText();
        // The dialog's message boxes have Qt's own button.
        QMessageBox box(QMessageBox::NoIcon, "", "", QMessageBox::Ok);
        okButton = box.button(QMessageBox::Ok)->text();
        dialog->close();
    };
    uint32_t rate = 4800;
    EXPECT_EQ(SetupCOMInterface2("ttyS7", &rate), 1);
    EXPECT_EQ(title, "Zelkora Wireless Network Manager - ttyS7:4800");
    EXPECT_EQ(selected, "19200");
    EXPECT_EQ(okButton, "确定") << "Qt's own texts in Chinese, as the dialog's";
    EXPECT_EQ(rate, 4800u);
    EXPECT_EQ(QCoreApplication::instance(), nullptr) << "the dialog's application outlived it";

    EXPECT_EQ(SetupCOMInterface2("ttyS7", nullptr), 1);
    EXPECT_EQ(title, "Zelkora Wireless Network Manager - ttyS7:0");
}

TEST(DialogExports, SerialDialogRefusesMissingOrOverlongPortNames) {
    const int before = applicationsMade;
    uint32_t rate = 9600;
    EXPECT_EQ(SetupCOMInterface2(nullptr, &rate), 0);
    const std::string overlong = "/dev/" + std::string(300, 'x');
    EXPECT_EQ(SetupCOMInterface2(overlong.c_str(), &rate), 0);
    EXPECT_EQ(SetupCOMInterface(nullptr, nullptr), 0);
    EXPECT_EQ(applicationsMade, before) << "a dialog was shown";
    EXPECT_EQ(rate, 9600u);
}

TEST(DialogExports, NetworkDialogCopiesBackHoweverItWasClosed) {
    // In the private network the PC has no adapters, so OK has no local choice to keep.
    if (const std::string &why = testsupport::EnterPrivateNetwork(); !why.empty())
        GTEST_SKIP() << why;
    char local[20] = "192.168.1.5";
    char device[20] = "stale";
    uint16_t port = 10086;
    QString title;
    handleDialog = [&](QWidget *dialog) {
        title = dialog->windowTitle();
        Press(dialog, "cancelButton");
    };
    EXPECT_EQ(SetupNETInterface2(local, &port, device), 1);
    EXPECT_EQ(title, "Zelkora Wireless Network Manager - 192.168.1.5:10086");
    EXPECT_STREQ(local, "192.168.1.5");
    EXPECT_EQ(port, 10086);
    EXPECT_STREQ(device, "") << "no device was chosen";

    handleDialog = [](QWidget *dialog) { Press(dialog, "okButton"); };
    EXPECT_EQ(SetupNETInterface2(local, &port, nullptr), 1);
    EXPECT_STREQ(local, "");
    EXPECT_EQ(port, 0);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// A console program where no display can be opened (an SSH session without X forwarding)
// goes on: both dialogs give 0, and standard error says why once.
TEST(DialogExportsDeathTest, NoDisplayGivesZeroInsteadOfEndingTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
                unsetenv(name);
            uint32_t rate = 9600;
            const bool refused = SetupCOMInterface2("ttyS7", &rate) == 0 &&
                                 SetupNETInterface2(nullptr, nullptr, nullptr) == 0;
            std::exit(refused && rate == 9600 && !QCoreApplication::instance() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^tevrolink-dialogs: [^\n]*DISPLAY is not set\n$");
}

}  // namespace

int main(int argc, char **argv) {
    testsupport::EnterPrivateNetwork();
    ::testing::InitGoogleTest(&argc, argv);
    qAddPreRoutine(OnApplicationMade);
    return RUN_ALL_TESTS();
}
