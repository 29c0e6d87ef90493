// The network viewer with 64 cells of live 704x480 video at 30 fps from four
// simulated 16-channel DVRs: frames shown per second, CPU and memory, and the
// time from start to the first picture in every cell; then the same with all
// 64 cells recording on the PC by hand, their writers' clocks jumping 20
// minutes every 3 s so that every file splits, and the writers' longest
// split. Runs on whatever Qt platform the environment names (offscreen by
// default, xcb under Xvfb).
//   netviewer_bench [--seconds S]
#include "SimProcess.h"
#include "bench/common/ProcessMeasures.h"

#include "control/CVyrdaxCtrl.h"

#include "netviewer/CMainFrame.h"
#include "netviewer/CVyrNVRDoc.h"
#include "netviewer/view/CVyrNVRView.h"
#include "platform/Component.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

namespace {

using bench::CpuSeconds;
using bench::ResidentMiB;
using bench::Pump;


// Counts the repaints of the video panes: each is a picture shown.
class PaintCounter : public QObject {
public:
    std::map<QObject*, long> paints;
    long Total() const
    {
        long n = 0;
        for (const auto& [pane, count] : paints)
            n += count;
        return n;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints[watched];
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int seconds = 20;
    for (int k = 1; k + 1 < argc; k += 2)
        if (!std::strcmp(argv[k], "--seconds"))
            seconds = std::max(5, std::atoi(argv[k + 1]));

    QTemporaryDir dir;
    const QString binDir = QFileInfo(VYRDAX_LIBRARY).absolutePath();
    QDir().mkpath(dir.filePath("image"));
    for (const QString& name : QDir(binDir + "/image").entryList(QDir::Files))
        QFile::copy(binDir + "/image/" + name, dir.filePath("image/" + name));
    setenv("VYR_REGISTRY", qPrintable(dir.filePath("registry.ini")), 1);
    void* library = dlopen(VYRDAX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library || reinterpret_cast<platform::DllRegisterServerFn>(dlsym(library, "DllRegisterServer"))() != 0) {
        std::fprintf(stderr, "netviewer_bench: cannot register the control\n");
        return 1;
    }

    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList setupArgs = {"--dir", dir.path(), "--channels", "16", "--split", "64", "--name", "Bench"};
    for (int d = 0; d < 4; ++d) {
        sims.push_back(std::make_unique<SimProcess>());
        if (!sims.back()->start({"--channels", "16", "--size", "704x480", "--fps", "30", "--interlace", "1"}))
            return 1;
        setupArgs << "--port" << QString::number(sims.back()->port());
    }
    QProcess setup;
    setup.start(NVSETUP_PROGRAM, setupArgs);
    if (!setup.waitForFinished(10000) || setup.exitCode() != 0)
        return 1;
    QDir::setCurrent(dir.path());

    const double rssBefore = ResidentMiB();
    QElapsedTimer sinceStart;
    sinceStart.start();
    CVyrNVRDoc document;
    document.OnNewDocument();
    document.Data().recordingDirectory = dir.filePath("rec");
    CMainFrame frame(&document, 0, dir.path());
    frame.resize(1280, 960);
    frame.show();
    frame.View()->OnInitialUpdate();

    PaintCounter counter;
    auto watchPanes = [&] {
        for (QObject* child : frame.View()->children()) {
            bool ok = false;
            const int id = child->objectName().toInt(&ok);
            if (ok && id >= 5000 && id < 5064 && !counter.paints.count(child)) {
                child->installEventFilter(&counter);
                counter.paints[child] = 0;
            }
        }
    };
    // Time to the first picture in every cell: each cell's middle is lit.
    auto allLit = [&] {
        const QImage image = frame.View()->grab().toImage();
        for (int cell = 0; cell < 64; ++cell) {
            const QRect r = frame.View()->FieldCellRect(cell);
            const QRgb p = image.pixel(r.center().x(), r.center().y() + 6);
            if (qGray(p) < 25)
                return false;
        }
        return true;
    };
    double firstPictureSeconds = -1;
    while (sinceStart.elapsed() < 30000) {
        Pump(50);
        watchPanes();
        if (allLit()) {
            firstPictureSeconds = sinceStart.elapsed() / 1000.0;
            break;
        }
    }
    Pump(2000);
    watchPanes();
    struct Phase {
        double elapsed = 0, cpu = 0;
        long paints = 0;
    };
    auto measure = [&](const std::function<void()>& everyThreeSeconds) {
        Phase phase;
        const long paintsBefore = counter.Total();
        const double cpuBefore = CpuSeconds();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < seconds * 1000) {
            Pump(3000);
            if (everyThreeSeconds)
                everyThreeSeconds();
        }
        phase.elapsed = clock.elapsed() / 1000.0;
        phase.paints = counter.Total() - paintsBefore;
        phase.cpu = CpuSeconds() - cpuBefore;
        return phase;
    };
    const Phase live = measure(nullptr);

    // The same with every cell recording on the PC, as Local Record starts it.
    CVyrNVRView* view = frame.View();
    if (CGroup* group = document.CurrentGroup())
        group->forcedRecordingTime = 0;
    std::atomic<long> clockOffset{0};
    std::vector<vyrdax::CVyrdaxCtrl*> writers;
    for (int slot = 0; slot < 64; ++slot)
        if (CDVyrdax* control = view->ControlAt(slot))
            if (auto* ctrl = dynamic_cast<vyrdax::CVyrdaxCtrl*>(control->Widget())) {
                ctrl->Recorder().SetClock([&clockOffset] {
                    vyrdax::RecordClockTime t = vyrdax::SystemRecordClock();
                    t.seconds += clockOffset.load();
                    return t;
                });
                writers.push_back(ctrl);
            }
    int recording = 0;
    for (int cell = 0; cell < 64; ++cell) {
        view->StartChannelRecording(0, viewer::RecordByHand, cell);
        const CVyrNVRView::Cell& c = view->CellAt(cell);
        if (CDVyrdax* control = view->ControlAt(c.slot))
            recording += (control->GetStatus(c.channel) & kStatusRecording) != 0;
    }
    const Phase recorded = measure([&clockOffset] { clockOffset += 20 * 60; });
    view->StopAllRecording();
    vyrdax::RecordingWriter::Statistics total;
    for (vyrdax::CVyrdaxCtrl* ctrl : writers) {
        const vyrdax::RecordingWriter::Statistics s = ctrl->Recorder().Stats();
        total.frames += s.frames;
        total.bytes += s.bytes;
        total.splits += s.splits;
        total.longestSplitNanoseconds = std::max(total.longestSplitNanoseconds, s.longestSplitNanoseconds);
    }

    std::printf("platform                 %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("cells                    64 (704x480, 30 fps, 4 DVRs), %zu panes watched\n", counter.paints.size());
    std::printf("start to every picture   %.2f s\n", firstPictureSeconds);
    std::printf("live only                %.1f frames shown/s (%.2f per cell), CPU %.2f cores\n",
                live.paints / live.elapsed, live.paints / live.elapsed / 64, live.cpu / live.elapsed);
    std::printf("live and %2d recording    %.1f frames shown/s (%.2f per cell), CPU %.2f cores\n", recording,
                recorded.paints / recorded.elapsed, recorded.paints / recorded.elapsed / 64,
                recorded.cpu / recorded.elapsed);
    std::printf("recording                %.0f frames/s written, %.1f MB/s, %llu splits, longest %.3f ms\n",
                total.frames / recorded.elapsed, total.bytes / recorded.elapsed / 1e6,
                static_cast<unsigned long long>(total.splits), total.longestSplitNanoseconds / 1e6);
    std::printf("resident memory          %.1f MiB (%.1f MiB before start)\n", ResidentMiB(), rssBefore);
    frame.close();
    QElapsedTimer closing;
    closing.start();
    while (frame.isVisible() && closing.elapsed() < 20000)
        Pump(20);
    std::printf("close                    %.2f s\n", closing.elapsed() / 1000.0);
    return 0;
}
