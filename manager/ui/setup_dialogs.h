// The link library's serial and network set-up dialogs, as the window calls them; empty
// when the program is built without libtevrolink-dialogs.
#pragma once

#include "manager/ui/link_panel.h"

namespace meradon::ui {

SetupDialogs LibrarySetupDialogs();

}  // namespace meradon::ui
