#include "setup/dialogs/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tevrolink::dialogs {

bool InstallQtChineseTranslations() {
    // Owned by the application, so it goes when the application goes.
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

}  // namespace tevrolink::dialogs
