// Qt's own texts (standard buttons, the file chooser, an edit field's menu) in Chinese, so
// that a window of this system, whose every text is Chinese, shows no English button
// whatever the user's locale.
#pragma once

namespace tevrolink::dialogs {

// Installs Qt's Chinese translations into the running application (which must exist);
// false when they are not installed on this machine, and Qt then speaks English.
bool InstallQtChineseTranslations();

}  // namespace tevrolink::dialogs
