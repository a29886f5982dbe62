// Renders the results view and a station's link-quality plot into PNG files for the
// README: a window against an in-process hostsim with three active stations, one of them
// suspended, sends a file by broadcast, resends it to the failed station, and station 2
// reports its link a few hundred times with a drifting quality.
//
//   meradon_pictures OUTDIR     (writes OUTDIR/sendings.png and OUTDIR/quality.png)
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "manager/ui/main_window.h"
#include "manager/ui/network_views.h"
#include "manager/ui/quality_plot.h"
#include "manager/ui/sendings_dialog.h"
#include "sim/host_sim.h"
#include "tests/manager/hostsim_session.h"
#include "tevrolink/tevrolink.h"

namespace {

bool Wait(const std::function<bool()> &done, int ms = 20000) { return QTest::qWaitFor(done, ms); }

int Fail(const char *what) {
    std::fprintf(stderr, "meradon_pictures: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 2) return Fail("usage: meradon_pictures OUTDIR");
    const std::filesystem::path out = argv[1];
    const std::filesystem::path work = meradon_test::FreshDirectory("pictures");
    std::filesystem::create_directories(work);

    auto sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
    sim->AddStations({2, 3, 4}, true);
    sim->UpdateStation(4, [](hostsim::Station &s) { s.suspended = true; });
    int code = 0;
    {
        meradon::ui::MainWindow window(work);
        window.SetRemotePort(sim->Port());
        window.Core().State().netSettings.localPort = meradon_test::FreeUdpPort();
        window.PointAtNetwork("127.0.0.1");
        window.show();
        auto click = [&](const char *name) { window.findChild<QAbstractButton *>(name)->click(); };
        click("openButton");
        if (!Wait([&] { return window.Core().State().listPrimed.load() != 0; })) return Fail("the link did not open");
        click("dataModeRadio");
        if (!Wait([&] { return window.Core().State().hostFlags.load() != 0; })) return Fail("no data transfer mode");

        const std::filesystem::path file = work / "firmware-2.4.bin";
        std::ofstream(file, std::ios::binary) << std::string(24000, 'z');
        window.findChild<QLineEdit *>("sendFileEdit")->setText(QString::fromStdString(file.string()));
        click("sendButton");
        auto idle = [&] {
            return window.findChild<QAbstractButton *>("sendButton")->isEnabled() && !window.Core().Resending();
        };
        if (!Wait([&] { return window.Core().Context().sendings.FailedStations(1).size() == 1 && idle(); }))
            return Fail("the broadcast did not end with one failure");
        meradon::ui::SendingsDialog *results = window.Views().ShowSendings();
        results->findChild<QAbstractButton *>("resendButton")->click();
        if (!Wait([&] { return window.Core().Context().sendings.Records().size() == 2 && idle(); }))
            return Fail("the resend did not end");
        results->Redraw();
        results->resize(820, 360);
        QTest::qWait(200);
        if (!results->grab().save(QString::fromStdString((out / "sendings.png").string()))) code = 1;

        for (int i = 0; i < 300; ++i) {
            const double t = i / 20.0;
            sim->UpdateStation(2, [&](hostsim::Station &s) {
                s.peerLqi = static_cast<uint8_t>(150 + 30 * std::sin(t) + (i * 7 % 11));
                s.hostLqi = static_cast<uint8_t>(170 + 20 * std::cos(t / 2) + (i * 5 % 9));
                s.peerRssi = static_cast<uint8_t>(80 + 12 * std::sin(t / 3) + (i * 3 % 7));
                s.hostRssi = static_cast<uint8_t>(90 + 10 * std::cos(t) + (i % 5));
            });
            sim->SendSignal(0x40, 2);
            QTest::qWait(20);
        }
        if (!Wait([&] { return window.Core().Context().quality.Count(2) >= 300; }))
            return Fail("the signal packets did not arrive");
        meradon::ui::QualityPlot *plot = window.Views().ShowQuality(2);
        plot->resize(820, 560);
        plot->Redraw();
        QTest::qWait(300);
        if (!plot->grab().save(QString::fromStdString((out / "quality.png").string()))) code = 1;
        window.Exit();
    }
    ::CloseShell();
    std::filesystem::remove_all(work);
    return code;
}
