// Renders the results view and a station's link-quality plot into PNG files for the
// README: a window against an in-process hostsim with three active stations, one of them
// suspended, sends a file by broadcast, resends it to the failed station; then the demo's
// network reports its link quality, and station 2's last ten minutes at the demo's pace
// are plotted.
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
#include <limits>
#include <vector>

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

        // The demo's four stations report in turn, one every 2 s, so station 2 every 8 s:
        // 75 reports in the ten minutes the plot shows. They come over the link as the
        // demo draws them, only faster; their stamps are then laid out at the demo's pace.
        constexpr int kReports = 10 * 60 / 8;
        constexpr int64_t kStationEveryMs = 4 * 2000;
        sim->AddDemoNetwork(4);
        sim->SetDemo(hostsim::Millis(5));
        meradon::Core &core = window.Core().Context();
        if (!Wait([&] { return core.quality.Count(2) >= kReports; })) return Fail("the signal packets did not arrive");
        sim->SetDemo(hostsim::Millis(0));
        QTest::qWait(100);  // the last reports in flight
        std::vector<meradon::QualitySample> reports = core.quality.Since(2, std::numeric_limits<int64_t>::min());
        reports.erase(reports.begin(), reports.end() - kReports);
        core.quality = meradon::QualityHistory{};
        const int64_t now = core.Now();
        for (int i = 0; i < kReports; ++i)
            core.quality.Add(2, now - (kReports - 1 - i) * kStationEveryMs, reports[i].values);
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
