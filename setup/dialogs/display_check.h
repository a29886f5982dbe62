// Whether a window can be shown at all. Qt ends the whole process when the platform it
// picks cannot open its display (a console program in an SSH session without X
// forwarding), so a library that makes its own QApplication finds this out first.
#pragma once

#include <string>

namespace tevrolink::dialogs {

struct UsablePlatform {
    std::string name;  // the platform to make the QApplication with; empty: none usable
    std::string why;   // when none is usable: why, in a sentence for standard error
};

// Tries the platforms Qt would try, in its order (QT_QPA_PLATFORM, a semicolon-separated
// list, when it is set; otherwise Wayland in a Wayland session, then X): the X and
// Wayland ones by connecting to their display. Platforms that need no display server
// (offscreen, minimal, vnc, framebuffers) are taken as named.
UsablePlatform FindUsablePlatform();

}  // namespace tevrolink::dialogs
