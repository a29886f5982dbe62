// The serial port list, read from a sysfs-like tree made here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "setup/serial_ports.h"
#include "tests/cli/cli_runner.h"

namespace clitest {
namespace {

namespace fs = std::filesystem;

class FakeTree {
public:
    FakeTree() : root_(TempPath("sys-" + std::to_string(++count_))) {
        fs::create_directories(root_ / "class/tty");
        fs::create_directories(root_ / "bus/usb-serial/drivers/ftdi_sio");
        fs::create_directories(root_ / "bus/pnp/drivers/serial");
        fs::create_directories(root_ / "bus/serial-base/drivers/port");
        fs::create_directories(root_ / "dev/serial/by-id");
    }
    // A tty; `driver` empty for one without, `type` < 0 for one without the attribute.
    // `serialBase`: the driver sits above a serial-base port device, as on newer kernels.
    void Tty(const std::string &name, const std::string &driver, int type = -1, bool serialBase = false) {
        const fs::path device = root_ / "devices" / name / (serialBase ? "port" : "");
        fs::create_directories(device);
        fs::create_directories(root_ / "class/tty" / name);
        if (!driver.empty()) {
            fs::create_directory_symlink(device, root_ / "class/tty" / name / "device");
            if (serialBase) {
                fs::create_directory_symlink(root_ / "bus/serial-base/drivers/port", device / "driver");
                fs::create_directory_symlink(root_ / "bus/pnp/drivers" / driver, device.parent_path() / "driver");
            } else {
                fs::create_directory_symlink(root_ / "bus/usb-serial/drivers" / driver, device / "driver");
            }
        }
        if (type >= 0) std::ofstream(root_ / "class/tty" / name / "type") << type << "\n";
        std::ofstream(root_ / "dev" / name).put('\0');
    }
    void ById(const std::string &name, const std::string &target) {
        fs::create_symlink("../../" + target, root_ / "dev/serial/by-id" / name);
    }
    tevrolink::SerialPortRoots Roots() const {
        return {(root_ / "class/tty").string(), (root_ / "dev").string(), (root_ / "dev/serial/by-id").string()};
    }
    std::string Dev(const std::string &name) const { return (root_ / "dev" / name).string(); }

private:
    static inline int count_ = 0;
    fs::path root_;
};

TEST(SerialPorts, ListsDriverBackedPortsAndOnlyFittedUarts) {
    FakeTree tree;
    fs::create_directories(TempPath("bus-unused"));
    tree.Tty("ttyUSB1", "ftdi_sio");
    tree.Tty("ttyUSB0", "ftdi_sio");
    tree.Tty("ttyS0", "serial", 4, true);   // a 16550A
    tree.Tty("ttyS1", "serial", 0, true);   // registered, but no UART there
    tree.Tty("ttyS2", "");                  // no driver
    tree.Tty("tty5", "");                   // a virtual console
    tree.ById("usb-FTDI_FT232R_A1-if00-port0", "ttyUSB0");
    tree.ById("usb-gone-if00-port0", "ttyUSB9");  // leads nowhere

    const auto ports = tevrolink::ListSerialPorts(tree.Roots());
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto &p : ports) got.emplace_back(p.path, p.driver);
    const std::string byId = tree.Dev("serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
    EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                       {byId, "ftdi_sio"},
                       {tree.Dev("ttyS0"), "serial"},
                       {tree.Dev("ttyUSB0"), "ftdi_sio"},
                       {tree.Dev("ttyUSB1"), "ftdi_sio"},
                   }));
}

TEST(SerialPorts, MissingDirectoriesGiveAnEmptyList) {
    tevrolink::SerialPortRoots roots{TempPath("none/tty"), TempPath("none/dev"), TempPath("none/by-id")};
    EXPECT_TRUE(tevrolink::ListSerialPorts(roots).empty());
}

}  // namespace
}  // namespace clitest
