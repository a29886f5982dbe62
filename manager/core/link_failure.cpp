#include "manager/core/link_failure.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "manager/core/text_format.h"

namespace meradon {

namespace {

// The device the library opens for a port name: a path as it is, else under /dev.
std::string DevicePath(const std::string &port) { return port.starts_with('/') ? port : "/dev/" + port; }

std::string DeviceGroup(const std::string &device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return {};
    const group *g = ::getgrgid(info.st_gid);
    return g ? std::string(g->gr_name) : std::to_string(info.st_gid);
}

bool Blank(const std::string &text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

std::string SerialOpenFailure(int error, const std::string &port) {
    if (Blank(port)) return "没有选择串行端口。";
    const std::string device = DevicePath(port);
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return Format("端口 %s 不存在。", device.c_str());
    case EBUSY: return Format("端口 %s 正被其他程序使用。", device.c_str());
    case EACCES:
    case EPERM: {
        const std::string group = DeviceGroup(device);
        if (group.empty()) return Format("没有打开端口 %s 的权限。", device.c_str());
        return Format("没有打开端口 %s 的权限: 请把用户加入 %s 组 (sudo usermod -aG %s $USER), 然后重新登录。",
                      device.c_str(), group.c_str(), group.c_str());
    }
    default: return Format("端口 %s: %s", device.c_str(), std::strerror(error));
    }
}

std::string NetworkOpenFailure(int error, uint16_t localPort) {
    if (error == EADDRINUSE) return Format("本地端口 %u 已被占用。", unsigned{localPort});
    if (error == 0) return {};
    return Format("网络接口: %s", std::strerror(error));
}

}  // namespace meradon
