#include "manager/ui/link_failure.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace meradon::ui {

namespace {

// The device the library opens for a port name: a path as it is, else under /dev.
QString DevicePath(const QString &port) { return port.startsWith('/') ? port : "/dev/" + port; }

QString DeviceGroup(const QString &device) {
    struct stat info {};
    if (::stat(device.toLocal8Bit().constData(), &info) != 0) return {};
    const group *g = ::getgrgid(info.st_gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(info.st_gid);
}

}  // namespace

QString SerialOpenFailure(int error, const QString &port) {
    if (port.trimmed().isEmpty()) return QString::fromUtf8("没有选择串行端口。");
    const QString device = DevicePath(port);
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return QString::fromUtf8("端口 %1 不存在。").arg(device);
    case EBUSY: return QString::fromUtf8("端口 %1 正被其他程序使用。").arg(device);
    case EACCES:
    case EPERM: {
        const QString group = DeviceGroup(device);
        if (group.isEmpty()) return QString::fromUtf8("没有打开端口 %1 的权限。").arg(device);
        return QString::fromUtf8("没有打开端口 %1 的权限: 请把用户加入 %2 组 "
                                 "(sudo usermod -aG %2 $USER), 然后重新登录。")
            .arg(device, group);
    }
    default:
        return QString::fromUtf8("端口 %1: %2").arg(device, QString::fromLocal8Bit(std::strerror(error)));
    }
}

QString NetworkOpenFailure(int error, uint16_t localPort) {
    if (error == EADDRINUSE) return QString::fromUtf8("本地端口 %1 已被占用。").arg(localPort);
    if (error == 0) return {};
    return QString::fromUtf8("网络接口: %1").arg(QString::fromLocal8Bit(std::strerror(error)));
}

}  // namespace meradon::ui
