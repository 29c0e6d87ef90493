// End to end: recordings made by the control from the simulator are found in
// the calendar, shown on the timeline, played and backed up; a DVR dropped
// from the tree is searched remotely, its search times read in the
// simulator's log.
#include "EndWithTest.h"
#include "BackupViewerFixture.h"

#include "SimProcess.h"
#include "backupviewer/BackupTexts.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "control/display/StreamHeader.h"
#include "control/display/XvidDecoder.h"
#include "player/folder/BackupFolder.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "control/interface/VyrdaxInterface.h"
#include "platform/ProcessSignals.h"
#include "tests/widgets/PlatformKeys.h"
#include "viewercore/widgets/FolderChooser.h"

#include "TestPicture.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <iostream>
#include <set>
#include <sstream>

using namespace backupviewer;

namespace {

// The time words of the simulator's "CMD 33" lines, with their day flag.
std::vector<std::pair<uint32_t, uint32_t>> SearchTimes(const SimProcess& sim)
{
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const std::string& line : sim.logLines()) {
        std::istringstream words(line);
        std::string cmd, code, a, b, hex;
        words >> cmd >> code >> a >> b >> hex;
        if (cmd != "CMD" || code != "33")
            continue;
        if (hex.size() < 16)
            continue;
        auto word = [&hex](int offset) {
            uint32_t v = 0;
            for (int b = 3; b >= 0; --b)
                v = v << 8 | std::stoul(hex.substr(offset + 2 * b, 2), nullptr, 16);
            return v;
        };
        out.emplace_back(word(0), word(8));
    }
    return out;
}

// The simulator's test picture of `channel`, frame `index` of its loop, in
// 32-bit colour by the BT.601 rule (studio range), not by the suite's own
// conversion.
QImage SourcePicture(int channel, int index, int loopFrames, const QSize& size)
{
    dvrsim::I420Picture picture(size.width(), size.height());
    dvrsim::paintTestPicture(picture, channel, index, loopFrames, 30.0);
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const double l = 1.164 * (picture.y()[y * size.width() + x] - 16);
            const int c = (y / 2) * (size.width() / 2) + x / 2;
            const double u = picture.u()[c] - 128, v = picture.v()[c] - 128;
            image.setPixel(x, y, qRgb(std::clamp(int(l + 1.596 * v), 0, 255),
                                      std::clamp(int(l - 0.392 * u - 0.813 * v), 0, 255),
                                      std::clamp(int(l + 2.017 * u), 0, 255)));
        }
    return image;
}

double Psnr(const QImage& a, const QImage& b)
{
    double squared = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                squared += double(d) * d;
        }
    const double mean = squared / (3.0 * a.width() * a.height());
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// A channel's source pictures over its loop, reduced as PaneMatch compares them.
constexpr int kSmallWidth = 48, kSmallHeight = 36;

std::vector<QImage> SmallSources(int channel, int loopFrames, const QSize& source)
{
    std::vector<QImage> out;
    for (int k = 0; k < loopFrames; ++k)
        out.push_back(SourcePicture(channel, k, loopFrames, source)
                          .scaled(kSmallWidth, kSmallHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return out;
}

// How well the picture a pane shows matches a channel's source: both reduced
// to a small picture (scaling and coding blur aside), best over the loop.
double PaneMatch(const QImage& pane, const std::vector<QImage>& sources)
{
    constexpr int kTitleHeight = 12;
    const QImage shown = pane.copy(QRect(QPoint(1, kTitleHeight), QPoint(pane.width() - 2, pane.height() - 2)))
                             .convertToFormat(QImage::Format_RGB32)
                             .scaled(kSmallWidth, kSmallHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double best = 0;
    for (const QImage& source : sources)
        best = std::max(best, Psnr(shown, source));
    return best;
}

// The bytes of the movie files under `recordings`.
qint64 RecordedBytes(const QString& recordings)
{
    qint64 bytes = 0;
    for (QDirIterator it(recordings, {"*.mp4"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        bytes += QFileInfo(it.next()).size();
    return bytes;
}

// A host process of the control records `channels` channels of the
// simulator by hand (mode 1: movie files) into `recordings` for `ms`, and on
// until the movie files hold `leastBytes`, which a loaded machine that holds
// the simulator back may take longer to bring; when recording began, null
// (with a failure) when the host failed.
QDateTime RecordByHand(const SimProcess& sim, const QString& recordings, int channels, int ms, qint64 leastBytes = 0)
{
    QDir().mkpath(recordings);
    const QDateTime began = QDateTime::currentDateTime();
    std::string script = "call setDispChannel 4\ncall SetBackupMode 0\n";
    for (int ch = 0; ch < channels; ++ch) {
        script += "call SetConnectInfo \"Cam" + std::to_string(ch) + "\" \"admin\" \"1111\" \"\" \"127.0.0.1\" " +
                  std::to_string(sim.port()) + " 1 " + std::to_string(ch + 1) + " 0 " + std::to_string(ch) + "\n";
        script += "call Connect " + std::to_string(ch) + "\n";
    }
    // Each channel started, however long a loaded machine makes the logins
    // and first frames take.
    for (int ch = 0; ch < channels; ++ch)
        script += "wait 0x605 60000\n";
    for (int ch = 0; ch < channels; ++ch) {
        const QString name = QString("F.Cam%1.%2.%3.mp4").arg(ch).arg(began.toString("yyyyMMdd.HHmmss")).arg(ch, 2, 10, QChar('0'));
        script += "call StartRecord \"" + recordings.toStdString() + "\" \"" + name.toStdString() + "\" \"F.Cam" +
                  std::to_string(ch) + "\" 0 " + std::to_string(ch) + "\n";
    }
    // The answer to the call after the sleep tells that it is over.
    script += "sleep " + std::to_string(ms) + "\ncall GetDVRType\n";
    const int answersBeforeTheStop = 2 + 3 * channels + 1;
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    host.setProcessEnvironment(env);
    testsupport::EndWithTest(host);
    host.start(VYRHOST_PROGRAM, {});
    if (!host.waitForStarted(5000)) {
        ADD_FAILURE() << "the host did not start";
        return {};
    }
    host.write(script.c_str());
    QString out;
    auto answers = [&] {
        out += QString::fromUtf8(host.readAllStandardOutput());
        return static_cast<int>(out.split('\n').filter(QRegularExpression("^= ")).size());
    };
    QElapsedTimer recording;
    recording.start();
    while ((answers() < answersBeforeTheStop || RecordedBytes(recordings) < leastBytes) && !out.contains("!") &&
           host.state() == QProcess::Running && recording.elapsed() < channels * 60000 + ms + 120000)
        host.waitForReadyRead(100);
    std::string stop;
    for (int ch = 0; ch < channels; ++ch)
        stop += "call StopRecord " + std::to_string(ch) + "\n";
    stop += "call DisConnectSvr -1\nquit\n";
    host.write(stop.c_str());
    host.closeWriteChannel();
    const bool finished = host.waitForFinished(60000);
    answers();
    if (!finished || host.exitCode() != 0 || out.contains("!") || RecordedBytes(recordings) < leastBytes) {
        ADD_FAILURE() << out.toStdString() << host.readAllStandardError().toStdString() << RecordedBytes(recordings)
                      << " bytes recorded";
        return {};
    }
    return began;
}

// Four channels of the simulator recorded by hand for 3 s, and on until
// they hold 2 MiB, into `recordings`: a clip whose backup ends within a
// repeat of a held key. When recording began; null (with a failure) when it
// could not be made.
QDateTime RecordShortClip(const QString& recordings)
{
    SimProcess sim;
    std::string error;
    if (!sim.start({"--channels", "4", "--user", "admin", "--password", "1111", "--size", "704x480", "--quant", "2",
                    "--gop", "5"},
                   &error)) {
        ADD_FAILURE() << error;
        return {};
    }
    const QDateTime began = RecordByHand(sim, recordings, 4, 3000, 2 << 20);
    sim.stop();
    return began;
}

// The folder backups go to: made, and answered by the folder chooser while
// this lives.
struct BackupTarget {
    explicit BackupTarget(const QString& folder) : path(folder)
    {
        QDir().mkpath(path);
        previous = SetFolderChooserHandler([folder](QWidget*, const QString&, const QString&) { return folder; });
    }
    ~BackupTarget() { SetFolderChooserHandler(previous); }
    QStringList Folders() const { return QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name); }

    QString path;
    FolderChooserHandler previous;
};

// The backup dialog the view opened, its folder taken from the folder
// chooser, its range a minute either side of `began`, shown with its Backup
// button; null for another dialog or when it cannot be shown.
CBackupDlg* ShownBackupDialog(QDialog& dialog, const QDateTime& began, QPushButton** button)
{
    auto* backup = dynamic_cast<CBackupDlg*>(&dialog);
    if (!backup)
        return nullptr;
    backup->OnBrowse();
    backup->SetRange(began.addSecs(-60), began.addSecs(60));
    backup->show();
    *button = backup->findChild<QPushButton*>(QString::number(CBackupDlg::IDC_BACKUP));
    if (!*button || !QTest::qWaitForWindowExposed(backup)) {
        ADD_FAILURE() << "no Backup button shown";
        return nullptr;
    }
    return backup;
}

// The bytes of the movie files of the `channels` channels in a backup
// folder, each file whole to movdump; -1 when one is missing or not whole.
qint64 MovieBytesWholeToMovdump(const QString& folder, int channels)
{
    const QStringList movies = QDir(folder).entryList({"CH0*_00.mp4"}, QDir::Files, QDir::Name);
    EXPECT_EQ(movies.size(), channels) << folder.toStdString();
    if (movies.size() != channels)
        return -1;
    qint64 bytes = 0;
    for (const QString& movie : movies) {
        const QString path = QDir(folder).filePath(movie);
        QProcess dump;
        dump.start(MOVDUMP_PROGRAM, {"--quiet", path});
        const bool whole =
            dump.waitForFinished(10000) && dump.exitStatus() == QProcess::NormalExit && dump.exitCode() == 0;
        EXPECT_TRUE(whole) << path.toStdString() << dump.readAllStandardError().toStdString();
        if (!whole)
            return -1;
        bytes += QFileInfo(path).size();
    }
    return bytes;
}

} // namespace

// What the movie player makes of a backup folder: every channel's file
// authentic, and each channel's first frame decodes to a picture.
void ExpectPlayerPlays(const std::string& folder, int channels)
{
    zoplayer::OpenedFolder opened = zoplayer::OpenBackupFolder(folder);
    ASSERT_EQ(opened.outcome, zoplayer::OpenedFolder::kOpened);
    EXPECT_EQ(opened.movieFiles, channels);
    EXPECT_EQ(opened.authenticityText, zoplayer::kAuthenticText);
    int decoded = 0;
    for (auto& reader : opened.readers) {
        if (!reader)
            continue;
        reader->Play();
        zoplayer::PlayerFrame frame;
        ASSERT_EQ(reader->ReadNext(&frame), 1);
        vyrdax::XvidDecoder decoder;
        ASSERT_TRUE(decoder.Create());
        vyrdax::StreamHeader header = vyrdax::kStreamHeaderTemplate;
        vyrdax::PatchStreamHeader(header, frame.header.width, frame.header.height, frame.Interlaced());
        std::vector<uint8_t> bytes(header.begin(), header.end());
        bytes.insert(bytes.end(), frame.payload.begin(), frame.payload.end());
        bytes.resize(bytes.size() + 1000, 0); // the decoder reads ahead
        int at = 0;
        for (int call = 0; call < 16 && at < static_cast<int>(bytes.size()); ++call) {
            const auto r = decoder.Decode(bytes.data() + at, static_cast<int>(bytes.size()) - at);
            if (r.type > 0) {
                ++decoded;
                break;
            }
            if (r.consumed <= 0)
                break;
            at += r.consumed;
        }
    }
    EXPECT_EQ(decoded, channels);
}

TEST_F(BackupViewerFixture, RecordingsFromTheSimulatorAreFoundPlayedAndBackedUp)
{
    SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--channels", "2", "--user", "admin", "--password", "1111", "--size", "720x576", "--quant", "2", "--gop", "5"}, &error))
        << error;
    const QString recordings = dir.filePath("rec");
    const QDateTime began = RecordByHand(sim, recordings, 2, 5000, 1 << 20);
    if (began.isNull())
        return;
    Start();
    const QDate today = began.date();
    View()->runDialog = [&](QDialog& dialog) {
        auto* calendar = dynamic_cast<CCalendarDlg*>(&dialog);
        if (!calendar)
            return int(QDialog::Rejected);
        EXPECT_TRUE(calendar->HasMonthTable());
        EXPECT_NE(calendar->Table()[today.day()], 0);
        return PickDay(*calendar, today.day());
    };
    View()->OnSearchLocal();
    ASSERT_EQ(View()->Mode(), CVyrNVRView::LocalMode);
    ASSERT_TRUE(View()->HasDayData());
    EXPECT_EQ(View()->Bottom(), CVyrNVRView::BottomTimeline);
    const int slot = CVyrNVRView::SlotOfTime(began.time().hour(), began.time().minute() >= 30 ? 31 : 0);
    EXPECT_EQ(View()->Day().Code(0, slot), kCodeManual);
    EXPECT_EQ(View()->Day().Code(1, slot), kCodeManual);
    EXPECT_EQ(View()->Day().Code(2, slot), 0);

    // A click on the slot plays every channel from there, back in video mode.
    const TimelineGeometry g = View()->Timeline();
    ASSERT_TRUE(View()->OnTimelineClick(g.Box(0, slot).center()));
    EXPECT_EQ(View()->Bottom(), CVyrNVRView::BottomVideo);
    // Each of the two panes shows its own channel's pictures: close to that
    // channel's source, and closer to it than to the other channel's.
    const QSize source(720, 576);
    const int loopFrames = 10; // two groups of five
    const std::vector<QImage> sources[2] = {SmallSources(0, loopFrames, source), SmallSources(1, loopFrames, source)};
    // A play-back that a loaded machine let play out its seconds before a
    // look leaves the panes dark: it is started again from the slot.
    std::string matches;
    auto panesShowTheirChannels = [&] {
        QElapsedTimer sinceStart;
        sinceStart.start();
        return PumpUntil([&] {
            matches.clear();
            bool all = true, dark = true;
            for (int ch = 0; ch < 2; ++ch) {
                auto* pane = View()->findChild<QWidget*>(QString::number(5000 + ch));
                if (!pane || !pane->isVisible())
                    return false;
                const QImage shown = pane->grab().toImage();
                dark = dark && qGray(shown.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0)) < 20;
                const double own = PaneMatch(shown, sources[ch]), other = PaneMatch(shown, sources[1 - ch]);
                matches += " pane " + std::to_string(ch) + ": " + std::to_string(own) + " dB, other " +
                           std::to_string(other) + " dB";
                all = all && own > 24.0 && own > other + 3.0;
            }
            if (!all && dark && sinceStart.elapsed() > 3000) {
                View()->OnTimelineClick(View()->Timeline().Box(0, slot).center());
                sinceStart.restart();
            }
            return all;
        }, 60000);
    };
    EXPECT_TRUE(panesShowTheirChannels()) << matches;
    for (int id : {IDC_PAUSE, IDC_PLAY, IDC_FAST_FORWARD, IDC_REWIND, IDC_PLAY})
        View()->OnCommand(id);
    Pump(300);
    EXPECT_TRUE(panesShowTheirChannels()) << matches;
    // Pages in local mode run over all 64 cells.
    View()->OnCommand(IDC_SPLIT_16);
    std::vector<int> firsts;
    for (int k = 0; k < 5; ++k) {
        firsts.push_back(View()->FirstCell());
        View()->OnCommand(IDC_NEXT_SPLIT);
    }
    EXPECT_EQ(firsts, (std::vector<int>{0, 16, 32, 48, 0}));
    // A click on a pane selects its cell and enables no sound: every cell is empty.
    View()->OnMessage(vyrdax::WM_VIDEO_SELECT, 5, 0);
    EXPECT_EQ(View()->CurrentCell(), 5);
    EXPECT_EQ(View()->CellAt(5).control, -1);

    // The backup of the recorded range lands in a folder with one movie per channel.
    const QString backups = dir.filePath("bak");
    QDir().mkpath(backups);
    auto previousChooser = SetFolderChooserHandler([&](QWidget*, const QString&, const QString&) { return backups; });
    std::string finalStatus;
    View()->runDialog = [&](QDialog& dialog) {
        QPushButton* button = nullptr;
        CBackupDlg* backup = ShownBackupDialog(dialog, began, &button);
        if (!backup)
            return int(QDialog::Rejected);
        // A double press starts one backup: the button is off until it ends.
        int started = 0;
        backup->startBackup = [&started, start = backup->startBackup](const QString& folder, long from, long to,
                                                                       long freeMiB) {
            ++started;
            return start(folder, from, to, freeMiB);
        };
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_FALSE(backup->BackupEnabled());
        EXPECT_EQ(started, 1);
        PumpUntil([backup] { return backup->CloseEnabled(); }, 30000);
        EXPECT_TRUE(backup->BackupEnabled());
        finalStatus = backup->StatusText().toStdString();
        return int(QDialog::Rejected);
    };
    View()->OnCommand(IDC_BACKUP);
    SetFolderChooserHandler(previousChooser);
    qint64 recorded = 0;
    for (QDirIterator it(recordings, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        recorded += QFileInfo(it.next()).size();
    EXPECT_EQ(finalStatus, kBackupCompleted) << recorded << " bytes recorded";
    QStringList movies;
    for (QDirIterator it(backups, {"CH0*_00.mp4"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        movies << it.next();
    ASSERT_EQ(movies.size(), 2) << movies.join(' ').toStdString();
    EXPECT_EQ(QDir(backups).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    for (const QString& movie : movies) {
        QProcess dump;
        dump.start(MOVDUMP_PROGRAM, {"--quiet", movie});
        ASSERT_TRUE(dump.waitForFinished(10000));
        EXPECT_EQ(dump.exitCode(), 0) << movie.toStdString();
    }
    ExpectPlayerPlays(QFileInfo(movies[0]).absolutePath().toStdString(), 2);

    // Playing when a closed terminal's SIGHUP comes: the viewer closes as
    // from its window, from its event loop, and saves its settings.
    View()->OnCommand(IDC_SPLIT_4);
    View()->OnCommand(IDC_TIMELINE);
    ASSERT_EQ(View()->Bottom(), CVyrNVRView::BottomTimeline);
    ASSERT_TRUE(View()->OnTimelineClick(View()->Timeline().Box(0, slot).center()));
    EXPECT_TRUE(panesShowTheirChannels()) << matches;
    for (const char* name : {"config_bv.vyr", "config_win.vyr"})
        QFile::remove(dir.filePath(name));
    platform::CloseOnTerminationSignals([this] { frame->close(); });
    std::raise(SIGHUP);
    const bool closed = PumpUntil([this] { return !frame->isVisible(); }, 10000);
    platform::CloseOnTerminationSignals({});
    ASSERT_TRUE(closed);
    for (const char* name : {"config_bv.vyr", "config_win.vyr"})
        EXPECT_TRUE(QFileInfo(dir.filePath(name)).size() > 0) << name;
    frame.reset(); // as at the program's end: the playback threads are joined
    sim.stop();
}

// Short backups of real recordings from the backup dialog, clicked as the
// platform delivers clicks: a double click is one backup however fast the
// backup ends, and two presses 0.55 s apart in one second are two complete
// backups in two folders.
TEST_F(BackupViewerFixture, ADoubleClickOnBackupIsOneBackupAndTwoPressesInOneSecondAreTwo)
{
    const QDateTime began = RecordShortClip(dir.filePath("rec"));
    ASSERT_FALSE(began.isNull());

    Start();
    const BackupTarget backups(dir.filePath("bak"));
    std::vector<std::string> statuses; // after each double click, then after the pair in one second
    std::vector<int> made;             // folders made by each of them
    int tooSlow = 0;                   // pairs that could not fall in one second here
    View()->runDialog = [&](QDialog& dialog) {
        QPushButton* button = nullptr;
        CBackupDlg* backup = ShownBackupDialog(dialog, began, &button);
        if (!backup)
            return int(QDialog::Rejected);
        auto ended = [backup] { return backup->CloseEnabled(); };
        unsigned long t = QTest::lastMouseTimestamp + 10000;
        // Double clicks, 120 ms between the presses: twice the second click
        // comes once the backup has ended, then whatever it has come to.
        for (int k = 0; k < 3; ++k) {
            const int before = backups.Folders().size();
            QElapsedTimer clock;
            clock.start();
            PlatformClick(button, t);
            if (k < 2) {
                EXPECT_TRUE(PumpUntil(ended, 30000));
            }
            while (clock.elapsed() < 120)
                Pump(2);
            PlatformClick(button, t + 120);
            EXPECT_TRUE(PumpUntil(ended, 30000));
            statuses.push_back(backup->StatusText().toStdString());
            made.push_back(backups.Folders().size() - before);
            t += 2000;
        }
        // Two presses 0.55 s apart inside one wall-clock second, from the
        // start of a second.
        for (int attempt = 0; attempt < 5 && statuses.size() < 4; ++attempt, t += 2000) {
            while (QDateTime::currentMSecsSinceEpoch() % 1000 > 30)
                Pump(2);
            const qint64 second = QDateTime::currentSecsSinceEpoch();
            const int before = backups.Folders().size();
            QElapsedTimer clock;
            clock.start();
            PlatformClick(button, t);
            PumpUntil([&] { return ended() || clock.elapsed() >= 550; }, 1000);
            const bool inTime = ended();
            EXPECT_TRUE(PumpUntil(ended, 30000));
            while (clock.elapsed() < 550)
                Pump(2);
            if (!inTime || QDateTime::currentSecsSinceEpoch() != second) {
                ++tooSlow;
                continue;
            }
            PlatformClick(button, t + 550);
            EXPECT_TRUE(PumpUntil(ended, 30000));
            statuses.push_back(backup->StatusText().toStdString());
            made.push_back(backups.Folders().size() - before);
        }
        QTest::lastMouseTimestamp = int(t + 2000);
        return int(QDialog::Rejected);
    };
    View()->OnCommand(IDC_BACKUP);
    ASSERT_EQ(statuses.size(), 4u) << tooSlow << " pairs of presses did not fit in a second";
    EXPECT_EQ(statuses, std::vector<std::string>(4, kBackupCompleted));
    EXPECT_EQ(made, (std::vector<int>{1, 1, 1, 2}));

    // The pair's folders are named for its second and the next one.
    const QStringList names = backups.Folders();
    ASSERT_EQ(names.size(), 5 + tooSlow);
    const QDateTime first = QDateTime::fromString(names[names.size() - 2], "yyyy-MM-dd-HH-mm-ss");
    const QDateTime second = QDateTime::fromString(names.last(), "yyyy-MM-dd-HH-mm-ss");
    ASSERT_TRUE(first.isValid() && second.isValid()) << names.join(' ').toStdString();
    EXPECT_EQ(first.secsTo(second), 1) << names.join(' ').toStdString();
    // Each folder holds the whole backup: the same bytes of movie files,
    // each whole to movdump, and the movie player plays all four channels.
    std::set<qint64> sizes;
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString folder = QDir(backups.path).filePath(name);
        qint64 bytes = 0;
        const QStringList movies = QDir(folder).entryList({"CH0*_00.mp4"}, QDir::Files, QDir::Name);
        EXPECT_EQ(movies.size(), 4);
        for (const QString& movie : movies) {
            bytes += QFileInfo(QDir(folder).filePath(movie)).size();
            QProcess dump;
            dump.start(MOVDUMP_PROGRAM, {"--quiet", QDir(folder).filePath(movie)});
            ASSERT_TRUE(dump.waitForFinished(10000));
            EXPECT_EQ(dump.exitCode(), 0) << movie.toStdString();
        }
        sizes.insert(bytes);
        ExpectPlayerPlays(folder.toStdString(), 4);
    }
    EXPECT_EQ(sizes.size(), 1u);
    EXPECT_GT(*sizes.begin(), 1 << 20);
    std::cout << "each backup: " << *sizes.begin() << " bytes of movie files\n";
    // The player in the second folder of the pair starts there by itself and
    // plays until it is told to end.
    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("LD_LIBRARY_PATH");
    player.setProcessEnvironment(env);
    player.setWorkingDirectory(QDir(backups.path).filePath(names.last()));
    testsupport::EndWithTest(player);
    player.start(QDir(backups.path).filePath(names.last()) + "/ZoPlayer", {});
    ASSERT_TRUE(player.waitForStarted(5000));
    // Up, however long a loaded machine takes to start it, it plays on.
    ASSERT_TRUE(testsupport::WaitUntilCatching(static_cast<pid_t>(player.processId()), SIGTERM, 60000))
        << player.readAllStandardError().toStdString();
    EXPECT_FALSE(player.waitForFinished(1500)) << player.readAllStandardError().toStdString();
    // Ended as when its window closes; one that does not end plays for ever.
    player.terminate();
    EXPECT_TRUE(player.waitForFinished(60000));
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.exitCode(), 0);
}

// Return held down on the backup dialog for 1.5 s with real recordings, the
// keys as the platform delivers them and each backup ended before the key's
// next repeat: one backup, one folder, wherever the focus is. Return
// released and pressed again is a second backup in a folder of its own.
TEST_F(BackupViewerFixture, AHeldReturnIsOneBackupAndReturnPressedAgainIsAnother)
{
    const QDateTime began = RecordShortClip(dir.filePath("rec"));
    ASSERT_FALSE(began.isNull());

    Start();
    const BackupTarget backups(dir.filePath("bak"));
    std::vector<std::string> statuses; // after each hold, then after the two presses
    std::vector<int> made;             // folders made by each of them
    View()->runDialog = [&](QDialog& dialog) {
        QPushButton* button = nullptr;
        CBackupDlg* backup = ShownBackupDialog(dialog, began, &button);
        if (!backup)
            return int(QDialog::Rejected);
        backup->activateWindow();
        if (!QTest::qWaitForWindowActive(backup)) {
            ADD_FAILURE() << "the backup dialog is not active";
            return int(QDialog::Rejected);
        }
        QWindow* window = backup->windowHandle();
        auto ended = [backup] { return backup->CloseEnabled(); };
        // 25 repeats a second, each once the backup before it has ended.
        auto repeatInterval = [&] {
            QElapsedTimer clock;
            clock.start();
            EXPECT_TRUE(PumpUntil(ended, 30000));
            while (clock.elapsed() < 40)
                Pump(2);
        };
        const QList<QWidget*> focusTargets = {
            button, backup->findChild<QWidget*>(QString::number(CBackupDlg::IDC_START_DATE)),
            backup->findChild<QWidget*>(QString::number(CBackupDlg::IDC_DIRECTORY))};
        for (QWidget* focus : focusTargets) {
            const int before = backups.Folders().size();
            focus->setFocus();
            PlatformHeldKey(window, Qt::Key_Return, "\r", 37, repeatInterval);
            EXPECT_TRUE(PumpUntil(ended, 30000));
            statuses.push_back(backup->StatusText().toStdString());
            made.push_back(backups.Folders().size() - before);
        }
        const int before = backups.Folders().size();
        button->setFocus();
        PlatformKeyPress(window, Qt::Key_Return, "\r");
        repeatInterval();
        PlatformKeyPress(window, Qt::Key_Return, "\r");
        EXPECT_TRUE(PumpUntil(ended, 30000));
        statuses.push_back(backup->StatusText().toStdString());
        made.push_back(backups.Folders().size() - before);
        return int(QDialog::Rejected);
    };
    View()->OnCommand(IDC_BACKUP);
    EXPECT_EQ(statuses, std::vector<std::string>(4, kBackupCompleted));
    EXPECT_EQ(made, (std::vector<int>{1, 1, 1, 2}));
    std::cout << "folders made by each hold and by the two presses:";
    for (int n : made)
        std::cout << ' ' << n;
    std::cout << '\n';
    // Each folder holds the whole backup: the same bytes of movie files,
    // each file whole to movdump.
    const QStringList names = backups.Folders();
    EXPECT_EQ(names.size(), 5);
    std::set<qint64> sizes;
    for (const QString& name : names)
        sizes.insert(MovieBytesWholeToMovdump(QDir(backups.path).filePath(name), 4));
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_GT(*sizes.begin(), 1 << 20);
}

TEST_F(BackupViewerFixture, ADvrSearchAsksForTheOpeningMonthTheShownMonthAndTheDay)
{
    SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--channels", "4", "--user", "admin", "--password", "1111", "--recordings", "7"}, &error))
        << error;
    AddDvr("Sim", 1, sim.port());
    Start();
    View()->DropItem(DvrItem("Sim"), FirstCellPoint());
    ASSERT_EQ(View()->Split(), 4);
    const QDateTime opened = QDateTime::currentDateTime();
    View()->clock = [opened] { return opened; };
    const QDate today = opened.date();
    const QDate next = today.addMonths(1);
    View()->runDialog = [&](QDialog& dialog) {
        auto* calendar = dynamic_cast<CCalendarDlg*>(&dialog);
        if (!calendar)
            return int(QDialog::Rejected);
        EXPECT_TRUE(PumpUntil([calendar] { return calendar->HasMonthTable(); }, 15000));
        calendar->ShowMonth(next.year(), next.month());
        calendar->ShowMonth(today.year(), today.month());
        Pump(1500);
        EXPECT_TRUE(PumpUntil([&] { return calendar->Table()[today.day()] != 0; }, 15000));
        return PickDay(*calendar, today.day());
    };
    View()->OnSearchDvr();
    ASSERT_TRUE(boxes.empty()) << boxes[0];
    ASSERT_TRUE(PumpUntil([this] { return View()->HasDayData(); }, 15000));
    EXPECT_EQ(View()->Bottom(), CVyrNVRView::BottomTimeline);

    const auto times = SearchTimes(sim);
    // The DVR's packed time: year - 2000, month, day, hour, minute, second
    // in 6, 4, 5, 5, 6 and 6 bits.
    auto packed = [](const QDateTime& t) {
        const QDate d = t.date();
        const QTime c = t.time();
        return uint32_t(d.year() - 2000) | uint32_t(d.month()) << 6 | uint32_t(d.day()) << 10 |
               uint32_t(c.hour()) << 15 | uint32_t(c.minute()) << 20 | uint32_t(c.second()) << 26;
    };
    auto midnight = [&packed](const QDate& d) { return packed(QDateTime(d, QTime(0, 0))); };
    ASSERT_GE(times.size(), 4u);
    EXPECT_EQ(times[0], std::make_pair(packed(opened), 0u));
    EXPECT_EQ(times[1], std::make_pair(midnight(QDate(next.year(), next.month(), 1)), 0u));
    EXPECT_EQ(times[2], std::make_pair(midnight(QDate(today.year(), today.month(), 1)), 0u));
    EXPECT_EQ(times.back(), std::make_pair(midnight(today), 1u));

    // A slot with recordings plays remotely from its time.
    int slot = -1;
    for (int s = 0; s < kSlotsPerDay && slot < 0; ++s)
        if (SlotHasRecordings(View()->Day(), View()->RowCount(), s))
            slot = s;
    ASSERT_GE(slot, 0);
    ASSERT_TRUE(View()->OnTimelineClick(View()->Timeline().Box(0, slot).center()));
    // The control connects on the GUI thread's messages: pump while waiting.
    auto logged = [&sim](const std::string& text) {
        return PumpUntil([&] {
            for (const std::string& line : sim.logLines())
                if (line.find(text) != std::string::npos)
                    return true;
            return false;
        }, 10000);
    };
    EXPECT_TRUE(logged("CMD 14 "));
    View()->OnCommand(IDC_PAUSE);
    EXPECT_TRUE(logged("CMD 10 "));
    ASSERT_TRUE(CloseAndWait());
    sim.stop();
}
