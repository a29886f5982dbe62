// Why the link did not open, in words an operator can act on (UTF-8): the window shows it
// under "打开通讯端口失败", the unattended manager logs it.
#pragma once

#include <cstdint>
#include <string>

namespace meradon {

// `error` is errno as OpenCOMShell left it for `port`.
std::string SerialOpenFailure(int error, const std::string &port);
// `error` is errno as OpenNETShell left it.
std::string NetworkOpenFailure(int error, uint16_t localPort);

}  // namespace meradon
