#include "setup/dialogs/display_check.h"

#include <dlfcn.h>

#include <cstdlib>
#include <vector>

namespace tevrolink::dialogs {
namespace {

std::string Env(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find(separator, begin)) != std::string::npos; begin = end + 1)
        parts.push_back(text.substr(begin, end - begin));
    parts.push_back(text.substr(begin));
    return parts;
}

// Connects to a display server through its client library, loaded only for the check (the
// platform plugin loads the same library when it runs); true when the connection works.
// `connect` returns a connection or null, `failed` tells whether a connection is unusable.
template <typename Connection>
bool ConnectsThrough(const char *library, const char *connect, const char *failed,
                     const char *disconnect, Connection (*open)(void *connectFn)) {
    void *handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return false;
    void *connectFn = dlsym(handle, connect);
    auto *failedFn = reinterpret_cast<int (*)(Connection)>(failed ? dlsym(handle, failed) : nullptr);
    auto *disconnectFn = reinterpret_cast<void (*)(Connection)>(dlsym(handle, disconnect));
    bool usable = false;
    if (connectFn && disconnectFn && (!failed || failedFn)) {
        if (Connection c = open(connectFn)) {
            usable = !failedFn || failedFn(c) == 0;
            disconnectFn(c);
        }
    }
    dlclose(handle);
    return usable;
}

bool XDisplayOpens(std::string &why) {
    if (Env("DISPLAY").empty()) {
        why = "DISPLAY is not set";
        return false;
    }
    const bool opens = ConnectsThrough<void *>(
        "libxcb.so.1", "xcb_connect", "xcb_connection_has_error", "xcb_disconnect",
        [](void *connectFn) {
            return reinterpret_cast<void *(*)(const char *, int *)>(connectFn)(nullptr, nullptr);
        });
    if (!opens) why = "the X display " + Env("DISPLAY") + " cannot be opened";
    return opens;
}

bool WaylandDisplayOpens(std::string &why) {
    // The client library finds its socket in XDG_RUNTIME_DIR unless given a full path, and
    // complains on standard error when that is not set.
    if (Env("XDG_RUNTIME_DIR").empty() && Env("WAYLAND_DISPLAY").rfind('/', 0) != 0) {
        why = "no Wayland display (XDG_RUNTIME_DIR is not set)";
        return false;
    }
    const bool opens = ConnectsThrough<void *>(
        "libwayland-client.so.0", "wl_display_connect", nullptr, "wl_display_disconnect",
        [](void *connectFn) {
            return reinterpret_cast<void *(*)(const char *)>(connectFn)(nullptr);
        });
    if (!opens) why = "no Wayland display can be opened";
    return opens;
}

bool Opens(const std::string &platform, std::string &why) {
    const std::string base = platform.substr(0, platform.find(':'));
    if (base == "xcb") return XDisplayOpens(why);
    if (base.rfind("wayland", 0) == 0) return WaylandDisplayOpens(why);
    if (base.empty()) why = "QT_QPA_PLATFORM names an empty platform";
    return !base.empty();
}

}  // namespace

UsablePlatform FindUsablePlatform() {
    std::vector<std::string> candidates;
    if (const std::string chosen = Env("QT_QPA_PLATFORM"); !chosen.empty())
        candidates = Split(chosen, ';');
    else if (Env("XDG_SESSION_TYPE") == "wayland")
        candidates = {"wayland", "xcb"};
    else
        candidates = {"xcb"};
    UsablePlatform found;
    for (const std::string &platform : candidates) {
        std::string why;
        if (Opens(platform, why)) return {platform, ""};
        found.why += (found.why.empty() ? "" : "; ") + why;
    }
    return found;
}

}  // namespace tevrolink::dialogs
