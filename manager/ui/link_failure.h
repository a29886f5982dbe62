// Why a link could not be opened, in words the operator can act on: the port is missing,
// held by another program, or needs a group the user is not in.
#pragma once

#include <QString>
#include <cstdint>

namespace meradon::ui {

// `error` is errno as OpenCOMShell left it; `port` the name as typed.
QString SerialOpenFailure(int error, const QString &port);
// `error` is errno as OpenNETShell left it.
QString NetworkOpenFailure(int error, uint16_t localPort);

}  // namespace meradon::ui
