// The C interface of libtevrolink-dialogs.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "setup/dialogs/display_check.h"
#include "setup/dialogs/network_setup_dialog.h"
#include "setup/dialogs/qt_translations.h"
#include "setup/dialogs/serial_setup_dialog.h"
#include "tevrolink/tevrolink.h"

namespace {

namespace dialogs = tevrolink::dialogs;

// A program without a QApplication (a console client) gets one for the dialog's life, on
// a platform found able to show it (Qt would end the process where none is), speaking
// Chinese as the dialog does. A program with its own chose its platform and translations.
class DialogApplication {
public:
    DialogApplication() {
        if (QCoreApplication::instance()) return;
        const dialogs::UsablePlatform platform = dialogs::FindUsablePlatform();
        if (platform.name.empty()) {
            static std::once_flag said;
            std::call_once(said, [&] {
                std::fprintf(stderr, "tevrolink-dialogs: no set-up dialog can be shown: %s\n",
                             platform.why.c_str());
            });
            return;
        }
        // Qt keeps these for the application's life and takes out the options it used.
        static char name[] = "tevrolink-dialogs";
        static char option[] = "-platform";
        static std::string chosen;
        static char *argv[4];
        static int argc;
        chosen = platform.name;
        argc = 3;
        argv[0] = name;
        argv[1] = option;
        argv[2] = chosen.data();
        argv[3] = nullptr;
        own_ = std::make_unique<QApplication>(argc, argv);
        dialogs::InstallQtChineseTranslations();
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
