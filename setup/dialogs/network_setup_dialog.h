// The network set-up dialog: the PC's adapters (read-only), the local address and port of
// the caller's UDP link, the network-attached devices a search finds, and one device's
// configuration, which it can change.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "setup/adapter_info.h"
#include "setup/dialogs/active_window.h"
#include "setup/dialogs/device_form.h"
#include "tevrolink/tevrolink.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace tevrolink::dialogs {

// What the dialog shows of the PC, read once when it opens.
struct PcNetwork {
    std::vector<AdapterInfo> adapters;
    std::vector<Ipv4> localAddresses;  // without 127.x, ascending

    static PcNetwork Read();
};

class NetworkSetupDialog : public QDialog {
    Q_OBJECT
public:
    // `settings` (required) outlives the dialog.
    NetworkSetupDialog(NetSettings *settings, PcNetwork pc, QWidget *parent = nullptr);

public slots:
    // OK keeps the local address and port; Cancel (and Esc) leaves them as they were.
    void accept() override;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildPcSide();
    void BuildDeviceSide();
    void BuildTable();
    void ShowAdapter(int index);
    void Search();
    // Opens the shell for a search or an update: through the adapter of the chosen local
    // address, or through every adapter.
    void OpenBroadcastShell();
    // False, after closing the shell and telling the operator why, when a search or an
    // update (its export's `result`) left on no adapter.
    bool Sent(int result);
    void AppendDeviceRow(const DeviceEntry &entry);
    void ChooseDevice(int row);
    // Loads the device of `row` into the fields, unless they show it already.
    void ShowDevice(int row);
    void ChangeDevice();
    void CopyPcSettings();
    DeviceForm ReadDeviceForm() const;

    NetSettings *settings_;
    PcNetwork pc_;
    std::vector<std::string> localChoices_;
    std::vector<DeviceEntry> devices_;  // in the order the answers came, duplicates kept
    // The row whose device the fields show: what the operator typed there stays until
    // another device is shown (another row, or a new search).
    int shownRow_ = -1;
    ActiveWindowRecord activeWindow_;

    QTableWidget *deviceTable_;
    QPushButton *searchButton_;
    QComboBox *adapterList_;
    QLineEdit *adapterMac_;
    QLineEdit *adapterAddress_, *adapterMask_, *adapterGateway_;
    QRadioButton *adapterDhcpRadio_, *adapterStaticRadio_;
    QLineEdit *adapterPrimaryDns_, *adapterSecondaryDns_;
    QRadioButton *adapterAutoDnsRadio_, *adapterManualDnsRadio_;
    QComboBox *localAddressList_;
    QLineEdit *localPort_;
    QPushButton *copyButton_;
    QLineEdit *deviceDescription_;
    QLineEdit *deviceMac_;
    QRadioButton *deviceAutoAddressRadio_, *deviceStaticAddressRadio_;
    QLineEdit *deviceAddress_, *deviceMask_, *deviceGateway_;
    QRadioButton *deviceAutoDnsRadio_, *deviceManualDnsRadio_;
    QLineEdit *devicePrimaryDns_, *deviceSecondaryDns_;
    QLineEdit *centreAddress_;
    QLineEdit *centrePort_;
    QPushButton *changeButton_;
    QPushButton *okButton_;
    QPushButton *cancelButton_;
};

}  // namespace tevrolink::dialogs
