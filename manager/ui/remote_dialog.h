// The remote output-device dialog: chooses where the receiving station puts the data it
// receives (a UART, the LCD, serial Flash or EEPROM, or its FIFO queue) and clears a
// region of the LCD or a memory, each after a confirmation.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace meradon {
struct AppState;
}

namespace meradon::ui {

// A number field as the station takes it: strtoul semantics (leading blanks, an optional
// sign, digits up to the first other character; "0x" allowed in base 16) in 32 bits.
uint32_t ParseDeviceNumber(const QString &text, int base);

class RemoteDialog : public QDialog {
    Q_OBJECT
public:
    explicit RemoteDialog(AppState &state, QWidget *parent = nullptr);

private:
    void UpdateOutputFields();
    void SetOutputDevice();
    void ClearOutputDevice();
    uint32_t Field(QLineEdit *edit) const;
    // Row and column travel as 16 bits each of one 32-bit value: a larger one would name
    // another place. Tells the operator and is false when one does not fit.
    bool PositionFits(uint32_t row, uint32_t column);
    std::string PositionText(uint32_t row, uint32_t column) const;
    std::string AddressText(uint32_t address) const;
    // Hands the request to the link once no step of a sending can be using the frame slot.
    void SendToStation(const std::function<void(uint8_t peer)> &request);

    AppState &state_;
    QComboBox *device_;
    QPushButton *set_;
    QPushButton *clear_;
    QCheckBox *hex_;
    QLineEdit *address_;
    QLineEdit *size_;
    QLineEdit *row_;
    QLineEdit *column_;
};

}  // namespace meradon::ui
