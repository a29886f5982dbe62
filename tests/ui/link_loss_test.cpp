// The serial link in the window when it fails: a port held by another program or closed to
// the user says so, and an adapter pulled out while the link is open closes the link in the
// window with one message, after which "打开" works again.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <fstream>

#include "manager/core/link_failure.h"
#include "tests/ui/window_session.h"

using namespace meradon;
using namespace meradon_ui_test;

namespace {

// The window on the serial interface, its port set to `path`.
void ChooseSerialPort(WindowSession &s, const std::string &path) {
    s.Click("serialRadio");
    s.Find<QComboBox>("portCombo")->setEditText(QString::fromStdString(path));
}

QString OpenButtonText(WindowSession &s) { return s.Find<QAbstractButton>("openButton")->text(); }

}  // namespace

TEST(SerialLinkFailure, APortHeldByAnotherProgramIsNamedBusy) {
    WindowSession s("ui-busy");
    auto pty = hostsim::HostSim::StartPty();
    const int holder = ::open(pty->PtyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);  // as another program holds it
    ChooseSerialPort(s, pty->PtyPath());
    s.Click("openButton");
    ::close(holder);
    ASSERT_EQ(s.messages.shown.size(), 1u);
    EXPECT_EQ(s.messages.shown[0].text, QString::fromStdString("打开通讯端口失败, 请重试!\n端口 " + pty->PtyPath() +
                                                               " 正被其他程序使用。"));
    EXPECT_EQ(OpenButtonText(s), "打开");
}

TEST(SerialLinkFailure, PermissionDeniedNamesTheGroupToJoin) {
    const auto device = meradon_test::FreshDirectory("ui-perm");
    { std::ofstream(device) << ""; }
    struct stat info {};
    ASSERT_EQ(::stat(device.c_str(), &info), 0);
    const group *g = ::getgrgid(info.st_gid);
    ASSERT_NE(g, nullptr);
    const QString text = QString::fromStdString(SerialOpenFailure(EACCES, device.string()));
    std::filesystem::remove(device);
    EXPECT_TRUE(text.startsWith(QString::fromStdString("没有打开端口 " + device.string() + " 的权限")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("usermod -aG %1").arg(QString::fromLocal8Bit(g->gr_name))))
        << text.toStdString();
}

TEST(SerialLinkFailure, APulledAdapterClosesTheLinkOnceAndItOpensAgain) {
    WindowSession s("ui-pulled");
    auto pty = hostsim::HostSim::StartPty();
    const std::string path = pty->PtyPath();
    ChooseSerialPort(s, path);
    ASSERT_TRUE(s.OpenInCommandMode());
    ASSERT_EQ(OpenButtonText(s), "关闭");

    pty.reset();  // pulled out
    s.Click("readStationButton");  // the first use of the link finds it gone
    ASSERT_TRUE(WaitFor([&] { return OpenButtonText(s) == "打开"; }));
    EXPECT_EQ(s.messages.Texts(), std::vector<QString>{QString::fromStdString(
                                      "与主节点的连接已断开: " + path + "\r\n请检查后重新打开")});
    EXPECT_TRUE(s.Enabled("portCombo"));
    EXPECT_TRUE(s.Enabled("serialRadio"));
    EXPECT_FALSE(s.Enabled("setStationButton"));

    pty = hostsim::HostSim::StartPty();
    ChooseSerialPort(s, pty->PtyPath());
    s.State().listPrimed.store(0);
    ASSERT_TRUE(s.OpenInCommandMode());
    EXPECT_EQ(OpenButtonText(s), "关闭");
    EXPECT_EQ(s.messages.shown.size(), 1u);
}
