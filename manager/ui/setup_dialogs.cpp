#include "manager/ui/setup_dialogs.h"

#include <QLineEdit>
#include <algorithm>
#include <cstring>

#include "tevrolink/tevrolink.h"

namespace meradon::ui {

#ifdef MERADON_HAVE_SETUP_DIALOGS

namespace {

template <std::size_t N>
void CopyText(char (&to)[N], const std::string &from) {
    const std::size_t n = std::min(from.size(), N - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

// The dialogs borrow these records while they are open; the window's settings are copied
// in before and back after.
void RunSerial(QWidget *owner, SerialLinkSettings &settings) {
    ComSettings record{};
    record.baudRate = settings.baudRate;
    CopyText(record.portName, settings.portName);
    SetupCOMInterface(owner, &record);
    settings.baudRate = record.baudRate;
}

void RunNetwork(QWidget *owner, NetLinkSettings &settings, QLineEdit *address) {
    NetSettings record{};
    record.localPort = settings.localPort;
    CopyText(record.localAddress, settings.localAddress);
    CopyText(record.deviceAddress, address->text().toStdString());
    record.addressWindow = address;
    SetupNETInterface(owner, &record);
    settings.localPort = record.localPort;
    settings.localAddress = record.localAddress;
}

}  // namespace

SetupDialogs LibrarySetupDialogs() { return {RunSerial, RunNetwork}; }

#else

SetupDialogs LibrarySetupDialogs() { return {}; }

#endif

}  // namespace meradon::ui
