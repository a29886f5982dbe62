// The files a request names or brings. A `file` comes from the network, so it is looked
// up inside the send directory by the kernel (openat2 with RESOLVE_BENEATH): "../", an
// absolute path and a symbolic link that leads out fail in the lookup itself, before
// anything outside is opened. The path handed on to the sending is the one the kernel
// resolved, without a symbolic link left in it; whoever may write into the send directory
// is trusted as its owner (they could change a file in it anyway).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace meradon::daemon {

// The sub-folder of the output directory that `data` of a request is written into.
inline constexpr const char *kRequestedFolder = "requested";

// The regular file `name` inside `dir`: its resolved path, or nullopt and `error`.
std::optional<std::filesystem::path> FileInSendDir(const std::filesystem::path &dir, const std::string &name,
                                                   std::string &error);

// Writes `bytes` into a new file of <output>/requested/, named "<stamp> <name>" (a number
// is added when that exists): its path, or nullopt and `error`. The file is kept, as
// received files are.
std::optional<std::filesystem::path> WriteRequestedFile(const std::filesystem::path &output,
                                                        const std::string &name, const std::string &bytes,
                                                        std::string &error);

}  // namespace meradon::daemon
