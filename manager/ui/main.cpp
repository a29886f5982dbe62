// meradon: the operator's program for a Zelkora radio network, "Zelkora Wireless Network
// Manager".
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "manager/ui/demo_host.h"
#include "manager/ui/main_window.h"
#include "manager/ui/setup_dialogs.h"
#include "setup/dialogs/qt_translations.h"
#include "tevrolink/tevrolink.h"

namespace {

const char kUsage[] =
    "usage: meradon [--output-dir DIR] [--retention-days N] [--demo | --connect ADDRESS:PORT]\n"
    "               [--data-mode]\n"
    "\n"
    "Zelkora Wireless Network Manager: runs a Zelkora radio network through its host node,\n"
    "attached by a serial port or by UDP.\n"
    "\n"
    "  --output-dir DIR  where received files, trace logs and saved records go\n"
    "                    (default ~/Meradon, created on first use)\n"
    "  --retention-days N  days that history.sqlite keeps link-quality samples and\n"
    "                    record lines, 1 to 36500 (default 400)\n"
    "  --demo            start a stand-in host node (hostsim) with a small live network on\n"
    "                    127.0.0.1, point the network interface at it and open the link;\n"
    "                    it ends with the window\n"
    "  --connect ADDRESS:PORT  point the network interface at the host node at ADDRESS\n"
    "                    (UDP port PORT) and open the link\n"
    "  --data-mode       once the link is open, choose data transfer mode\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n";

struct Options {
    std::filesystem::path outputDir;
    bool demo = false;
    QString hostAddress;  // --connect
    uint16_t hostPort = 0;
    bool dataMode = false;
    int retentionDays = meradon::kDefaultRetentionDays;
};

[[noreturn]] void Fail(const std::string &error) {
    std::fprintf(stderr, "meradon: %s\n\n%s", error.c_str(), kUsage);
    std::exit(2);
}

// --help and --version are answered before any window system is contacted.
void AnswerInfoOptions(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("meradon %s\n", MERADON_VERSION);
            std::exit(0);
        }
    }
}

// The arguments Qt has left.
Options Parse(const QStringList &args) {
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args[i];
        if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--connect") {
            if (i + 1 >= args.size()) Fail("--connect needs ADDRESS:PORT");
            const QString value = args[++i];
            bool ok = false;
            const uint port = value.section(':', -1).toUInt(&ok);
            o.hostAddress = value.section(':', 0, -2);
            if (!ok || port == 0 || port > 65535 || o.hostAddress.isEmpty())
                Fail("--connect wants ADDRESS:PORT: " + value.toStdString());
            o.hostPort = static_cast<uint16_t>(port);
        } else if (arg == "--data-mode") {
            o.dataMode = true;
        } else if (arg == "--output-dir" || arg.startsWith("--output-dir=")) {
            QString value = arg.section('=', 1);
            if (arg == "--output-dir") {
                if (i + 1 >= args.size()) Fail("--output-dir needs a directory");
                value = args[++i];
            }
            if (value.isEmpty()) Fail("--output-dir needs a directory");
            o.outputDir = value.toStdString();
        } else if (arg == "--retention-days") {
            if (i + 1 >= args.size()) Fail("--retention-days needs a number of days");
            const QString value = args[++i];
            bool ok = false;
            o.retentionDays = value.toInt(&ok);
            if (!ok || o.retentionDays < meradon::kMinRetentionDays || o.retentionDays > meradon::kMaxRetentionDays)
                Fail("--retention-days wants a number of days from 1 to 36500, not " + value.toStdString());
        } else {
            Fail("unknown option " + arg.toStdString());
        }
    }
    if (o.demo && o.hostPort) Fail("give only one of --demo and --connect");
    if (o.dataMode && !o.demo && !o.hostPort) Fail("--data-mode needs --demo or --connect");
    if (o.outputDir.empty()) o.outputDir = (QDir::homePath() + "/Meradon").toStdString();
    return o;
}

// Opening the link posts the change to command set mode, and that change posts its reads
// of the node's settings; two hops through the event queue come after all of them.
void ChooseDataModeAfterOpening(QWidget &window) {
    QMetaObject::invokeMethod(&window, [&window] {
        QMetaObject::invokeMethod(&window, [&window] {
            if (auto *data = window.findChild<QAbstractButton *>("dataModeRadio")) data->click();
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

int signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM act as "退出": the window shuts the worker down, then the event loop
// ends and the demo's host node with it.
void ExitOnStopSignals(meradon::ui::MainWindow &window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &byte, 1);
        window.Exit();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char **argv) {
    AnswerInfoOptions(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("meradon");
    QApplication::setApplicationVersion(MERADON_VERSION);
    QApplication::setQuitOnLastWindowClosed(false);
    tevrolink::dialogs::InstallQtChineseTranslations();
    const Options options = Parse(QApplication::arguments());

    std::optional<meradon::ui::DemoHost> demo;
    int code = 0;
    {
        meradon::ui::MainWindow window(options.outputDir, options.retentionDays);
        window.SetSetupDialogs(meradon::ui::LibrarySetupDialogs());
        // exit() rather than quit(): quit() first asks the windows to close, and closing the
        // main window only hides it.
        QObject::connect(&window, &meradon::ui::MainWindow::exitRequested, &app, [] { QApplication::exit(0); });
        ExitOnStopSignals(window);
        if (options.demo) {
            demo.emplace();
            if (!demo->Start()) {
                std::fprintf(stderr, "meradon: the demo's host node did not start: %s\n",
                             demo->Error().toLocal8Bit().constData());
                return 1;
            }
            window.SetRemotePort(demo->Port());
            window.PointAtNetwork("127.0.0.1");
        } else if (options.hostPort) {
            window.SetRemotePort(options.hostPort);
            window.PointAtNetwork(options.hostAddress);
        }
        window.show();
        if (options.demo || options.hostPort) {
            QTimer::singleShot(0, &window, [&window, &options] {
                // The demo's stations send debug packets when asked: ask.
                if (options.demo)
                    if (auto *trace = window.findChild<QAbstractButton *>("traceOutputCheck")) trace->setChecked(true);
                if (auto *open = window.findChild<QAbstractButton *>("openButton")) open->click();
                if (options.dataMode) ChooseDataModeAfterOpening(window);
            });
        }
        code = QApplication::exec();
    }
    CloseShell();
    return code;
}
