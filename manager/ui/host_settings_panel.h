// The host node's settings of command set mode: its station number, the peer or broadcast,
// the two frequency points, retransmission, transmit power, the clock, and the firmware
// version, each read from and written to the host node by its own buttons.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace meradon::ui {

class HostSettingsPanel : public QWidget {
    Q_OBJECT
public:
    explicit HostSettingsPanel(QWidget *parent);

    void Enable(bool on);
    // The peer field's number as the host node takes it (its low byte).
    uint8_t PeerNumber() const;

    void ReadStation();
    void ReadPeer();
    void ReadPoint1();
    void ReadPoint2();
    void ReadRetransmission();
    void ReadPower();
    void ReadVersion();

signals:
    // The host node's retransmission setting as read.
    void retransmissionRead(bool on);
    // The window title that the firmware version gives.
    void versionRead(const QString &title);

private:
    void SetStation();
    void SetPeer();
    void ChooseReceiver();
    void ChooseBroadcast();
    void SetPoint(QLineEdit *edit, int (*set)(int, uint8_t *));
    void ReadPoint(QLineEdit *edit, int (*get)(uint8_t *));
    void SetRetransmission();
    void SetPower();

    QButtonGroup *receiver_;
    QLineEdit *stationEdit_, *peerEdit_, *point1Edit_, *point2Edit_;
    QPushButton *readStationButton_, *setStationButton_, *readPeerButton_, *setPeerButton_;
    QRadioButton *receiverRadio_, *broadcastRadio_;
    QPushButton *clockButton_;
    QPushButton *readPoint1Button_, *setPoint1Button_, *readPoint2Button_, *setPoint2Button_;
    QComboBox *retransmissionCombo_, *powerCombo_;
    QPushButton *readRetransmissionButton_, *setRetransmissionButton_;
    QPushButton *readPowerButton_, *setPowerButton_;
};

}  // namespace meradon::ui
