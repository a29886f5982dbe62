// The demo's host node: a hostsim child on 127.0.0.1 with a few live stations. It ends
// with the window.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <cstdint>

namespace meradon::ui {

class DemoHost : public QObject {
    Q_OBJECT
public:
    explicit DemoHost(QObject *parent = nullptr);
    ~DemoHost() override;

    // Starts hostsim and waits for it to report its port; false with Error() otherwise.
    bool Start();
    uint16_t Port() const { return port_; }
    QString Error() const { return error_; }

private:
    static QString FindHostSim();

    QProcess process_;
    uint16_t port_ = 0;
    QString error_;
};

}  // namespace meradon::ui
