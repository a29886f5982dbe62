#include "manager/ui/demo_host.h"

#include <sys/prctl.h>

#include <csignal>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace meradon::ui {

namespace {
constexpr int kStartMs = 5000;
constexpr int kStopMs = 1000;
const char *const kStations = "4";
const char *const kFileSeconds = "30";  // a station sends a file this often in data mode
}  // namespace

DemoHost::DemoHost(QObject *parent) : QObject(parent) {}

DemoHost::~DemoHost() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(kStopMs)) {
        process_.kill();
        process_.waitForFinished(kStopMs);
    }
}

// Beside the program when installed, in the build tree's sim/ when run from there, else
// on the PATH.
QString DemoHost::FindHostSim() {
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {here.filePath("hostsim"), here.filePath("../../sim/hostsim")}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return info.canonicalFilePath();
    }
    return QStandardPaths::findExecutable("hostsim");
}

bool DemoHost::Start() {
    const QString program = FindHostSim();
    if (program.isEmpty()) {
        error_ = "hostsim not found";
        return false;
    }
    // Port 0: hostsim picks a free port on the loopback address and prints it.
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Should the manager end without its destructors (killed, crashed), hostsim ends too.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(program, {"--udp", "127.0.0.1:0", "--demo", kStations, "--demo-files", kFileSeconds, "--firmware",
                             QString::fromUtf8("HostSim 演示网络 V1.0")});
    if (!process_.waitForStarted(kStartMs)) {
        error_ = program + ": " + process_.errorString();
        return false;
    }
    static const QRegularExpression udpLine("^udp \\S+:(\\d+)");
    while (process_.waitForReadyRead(kStartMs) || process_.canReadLine()) {
        while (process_.canReadLine()) {
            const QString line = QString::fromUtf8(process_.readLine()).trimmed();
            const auto match = udpLine.match(line);
            if (!match.hasMatch()) continue;
            port_ = static_cast<uint16_t>(match.captured(1).toUInt());
            // Later output (none unless asked for) goes to our own standard output.
            connect(&process_, &QProcess::readyReadStandardOutput, this, [this] {
                const QByteArray out = process_.readAllStandardOutput();
                fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
            });
            return port_ != 0;
        }
    }
    error_ = "hostsim did not report its port";
    return false;
}

}  // namespace meradon::ui
