// The C interface of libtevrolink-dialogs.
#include <QApplication>
#include <cstring>
#include <memory>

#include "setup/dialogs/network_setup_dialog.h"
#include "setup/dialogs/qt_translations.h"
#include "setup/dialogs/serial_setup_dialog.h"
#include "tevrolink/tevrolink.h"

namespace {

// A program without a QApplication (a console client) gets one for the dialog's life,
// speaking Chinese as the dialog does. A program with its own chose its translations.
class DialogApplication {
public:
    DialogApplication() {
        if (QCoreApplication::instance()) return;
        static int argc = 1;
        static char name[] = "tevrolink-dialogs";
        static char *argv[] = {name, nullptr};
        own_ = std::make_unique<QApplication>(argc, argv);
        tevrolink::dialogs::InstallQtChineseTranslations();
    }
    // Widgets need a QApplication; a program that runs only a QCoreApplication has none.
    bool Usable() const { return qobject_cast<QApplication *>(QCoreApplication::instance()); }

private:
    std::unique_ptr<QApplication> own_;
};

}  // namespace

extern "C" {

TEVROLINK_API int SetupCOMInterface(void *owner, ComSettings *settings) {
    if (!settings) return 0;
    DialogApplication application;
    if (!application.Usable()) return 0;
    tevrolink::dialogs::SerialSetupDialog dialog(settings, static_cast<QWidget *>(owner));
    dialog.exec();
    return 1;
}

TEVROLINK_API int SetupCOMInterface2(const char *portName, uint32_t *baudRate) {
    ComSettings settings{};
    if (!portName || std::strlen(portName) >= sizeof settings.portName) return 0;
    std::strcpy(settings.portName, portName);
    settings.baudRate = baudRate ? *baudRate : 0;
    const int shown = SetupCOMInterface(nullptr, &settings);
    if (baudRate) *baudRate = settings.baudRate;
    return shown;
}

TEVROLINK_API int SetupNETInterface(void *owner, NetSettings *settings) {
    if (!settings) return 0;
    DialogApplication application;
    if (!application.Usable()) return 0;
    tevrolink::dialogs::NetworkSetupDialog dialog(settings, tevrolink::dialogs::PcNetwork::Read(),
                                                  static_cast<QWidget *>(owner));
    dialog.exec();
    return 1;
}

TEVROLINK_API int SetupNETInterface2(char *localAddress, uint16_t *localPort,
                                     char *deviceAddress) {
    NetSettings settings{};
    if (localAddress)
        std::memcpy(settings.localAddress, localAddress,
                    strnlen(localAddress, sizeof settings.localAddress - 1));
    if (localPort) settings.localPort = *localPort;
    const int shown = SetupNETInterface(nullptr, &settings);
    if (localAddress) std::memcpy(localAddress, settings.localAddress, sizeof settings.localAddress);
    if (localPort) *localPort = settings.localPort;
    if (deviceAddress)
        std::memcpy(deviceAddress, settings.deviceAddress, sizeof settings.deviceAddress);
    return shown;
}

}  // extern "C"
