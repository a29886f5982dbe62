// The serial set-up dialog: finds the rate at which the device on a serial port answers
// (the search runs on its own thread, its log lines appear as they come) and tells the
// device to use another rate.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <thread>

#include "setup/dialogs/active_window.h"
#include "tevrolink/tevrolink.h"

class QComboBox;
class QListWidget;
class QPushButton;

namespace tevrolink::dialogs {

class SerialSetupDialog : public QDialog {
    Q_OBJECT
public:
    // `settings` (required) outlives the dialog; the rate a search finds lands in it.
    explicit SerialSetupDialog(ComSettings *settings, QWidget *parent = nullptr);
    ~SerialSetupDialog() override;

    bool Searching() const { return search_.joinable(); }

public slots:
    // Close and Esc end the dialog only while no search runs.
    void reject() override;

protected:
    bool event(QEvent *event) override;

private:
    void StartSearch();
    void AppendLine(const QString &line, bool select);
    void FinishSearch(uint32_t rateFound);
    void SetDeviceRate();
    void EnableCommands(bool enable);

    ComSettings *settings_;
    std::string portName_;
    ActiveWindowRecord activeWindow_;
    QComboBox *rateList_;
    QPushButton *setRateButton_;
    QListWidget *searchLog_;
    QPushButton *searchButton_;
    QPushButton *clearLogButton_;
    QPushButton *closeButton_;
    std::thread search_;
};

}  // namespace tevrolink::dialogs
