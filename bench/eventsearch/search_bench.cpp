// Event search figures.
//
//   search_bench [DIR]   30 DVR files of 1,000,000 records each (720 MB; made
//       once in DIR, default /tmp/vyr-search-bench). With the files warm in
//       the page cache it prints the read rate of cat over them, then for a
//       narrow and a wide filter the records scanned per second by the
//       whole search page (scan, hand-out and listing) beside cat of the same
//       files, the rows listed and the longest pause of the page's event loop
//       while the list filled; then where the time goes: the scan by the
//       readers alone and the listing of the same rows alone.
#include "EventViewer/event/EventDatabase.h"
#include "EventViewer/search/CEventSearchDlg.h"
#include "platform/MessageBox.h"
#include "viewercore/model/SettingsDocument.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QHeaderView>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr int kDvrs = 30;
constexpr int kRecords = 1000000;

QString DvrName(int d)
{
    return QStringLiteral("DVR%1").arg(d + 1, 2, 10, QLatin1Char('0'));
}

// A month of a DVR's events: one in twenty a motion (so the wide filter
// lists about 45,000 a DVR), the rest spread over the other kinds.
void MakeDatabase(const QString& directory)
{
    QDir().mkpath(directory);
    std::mt19937 random(7);
    for (int d = 0; d < kDvrs; ++d) {
        const QString path = eventdb::DatabaseFilePath(directory, DvrName(d));
        if (QFileInfo(path).size() == qint64(kRecords) * 24)
            continue;
        QFile::remove(path);
        std::vector<EventRecord> records(kRecords);
        for (int k = 0; k < kRecords; ++k) {
            EventRecord& r = records[static_cast<std::size_t>(k)];
            const int second = k * 2; // 2,000,000 s: about 23 days from 1 May
            r.key = static_cast<uint32_t>(k);
            r.packedTime = PackEventTime({2024, 5, 1 + second / 86400, (second / 3600) % 24, (second / 60) % 60,
                                          second % 60});
            const uint32_t kind = random() % 20;
            r.eventClass = static_cast<uint16_t>(kind == 0 ? uint32_t(kClassCamera) : 31 + random() % 6);
            r.subKind = kind == 0 ? 2 : static_cast<uint8_t>(random() % 24);
            r.action = static_cast<uint8_t>(random() % 3 + 19);
            r.channelMask = 1u << (random() % 16);
            r.userClass = random() % 2 ? 15 : 3;
        }
        eventdb::AppendBatch(directory, DvrName(d), records);
    }
}

// cat straight into /dev/null (which it may not even copy to) and through a
// pipe, where every byte is read and handed on.
double CatSeconds(const QString& directory, bool throughPipe)
{
    QStringList files;
    for (int d = 0; d < kDvrs; ++d)
        files << eventdb::DatabaseFilePath(directory, DvrName(d));
    QElapsedTimer clock;
    clock.start();
    QProcess cat;
    if (throughPipe)
        cat.start("sh", QStringList{"-c", "cat \"$@\" | wc -c >/dev/null", "cat"} + files);
    else {
        cat.setStandardOutputFile(QProcess::nullDevice());
        cat.start("cat", files);
    }
    cat.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e9;
}

struct Figures {
    double readerSeconds = 0;
    double listSeconds = 0; // the same rows put into a result list alone
    double eventsSeconds = 0; // of which the window's own work (layout, paint)
    double pageSeconds = 0;
    int rows = 0;
    qint64 longestPauseMs = 0;
};

void SetFilter(CEventSearchDlg& page, bool wide)
{
    page.Check(IDC_USE_DATE)->setChecked(true);
    page.FromDay()->setDate(QDate(2024, 5, 1));
    page.FromTime()->setTime(QTime(0, 0, 0));
    page.ToDay()->setDate(wide ? QDate(2024, 5, 31) : QDate(2024, 5, 2));
    page.ToTime()->setTime(QTime(23, 59, 59));
    if (wide) {
        page.Check(IDC_SEARCH_MOTION)->setChecked(true);
    } else {
        page.Check(IDC_SEARCH_POWER_OFF)->setChecked(true);
    }
    for (int k = 0; k < 16; ++k)
        page.Check(IDC_FIRST_CHANNEL + k)->setChecked(true);
}

Figures Run(SettingsDocument& document, bool wide)
{
    Figures f;
    CEventSearchDlg page(&document, {});
    page.resize(1200, 800);
    page.show();
    page.OnInitDialog();
    SetFilter(page, wide);

    // The readers alone, one after another as on the search thread.
    {
        CFileMgr reader;
        reader.directory = document.searchDatabaseDirectory;
        reader.filter = page.FilterFromControls();
        std::vector<std::vector<EventRecord>> kept(kDvrs);
        qint64 scanNs = 0;
        for (int d = 0; d < kDvrs; ++d) {
            reader.dvrName = DvrName(d);
            QElapsedTimer clock;
            clock.start();
            reader.SearchFile();
            scanNs += clock.nsecsElapsed();
            for (int i = 0; i < reader.Count(); ++i)
                kept[static_cast<std::size_t>(d)].push_back(reader.Record(i));
        }
        f.readerSeconds = scanNs / 1e9;

        // The listing alone: the kept records turned into rows, handed to a
        // result list like the page's in the page's batches, the view
        // following the last row.
        SearchResultModel model;
        QTableView view;
        view.setModel(&model);
        view.verticalHeader()->hide();
        view.verticalHeader()->setDefaultSectionSize(18);
        view.resize(1100, 500);
        view.show();
        QElapsedTimer clock;
        clock.start();
        qint64 eventsNs = 0;
        for (int d = 0; d < kDvrs; ++d) {
            const std::vector<EventRecord>& records = kept[static_cast<std::size_t>(d)];
            for (std::size_t i = 0; i < records.size();) {
                std::vector<SearchResultRow> batch;
                for (std::size_t end = std::min(records.size(), i + CEventSearchDlg::kListBatch); i < end; ++i)
                    batch.push_back({0, d, records[i]});
                model.Append(batch);
                view.scrollToBottom();
                QElapsedTimer events;
                events.start();
                QCoreApplication::processEvents();
                eventsNs += events.nsecsElapsed();
            }
        }
        f.listSeconds = clock.nsecsElapsed() / 1e9;
        f.eventsSeconds = eventsNs / 1e9;
    }

    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        f.longestPauseMs = std::max(f.longestPauseMs, sinceTick.elapsed());
        sinceTick.restart();
    });
    QElapsedTimer clock;
    clock.start();
    page.OnSearch();
    sinceTick.start();
    tick.start(5);
    while (page.Searching())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    f.pageSeconds = clock.nsecsElapsed() / 1e9;
    tick.stop();
    f.rows = page.Results();
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    platform::SetMessageBoxHandler([](const std::string& text, const std::string&, unsigned) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return platform::IDOK;
    });
    const QString directory = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/vyr-search-bench");
    MakeDatabase(directory);
    SettingsDocument document(ViewerVariant::Event, directory);
    for (int d = 0; d < kDvrs; ++d) {
        auto dvr = std::make_unique<CDVR>(DvrName(d), 3, CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                          std::array<uint8_t, 4>{127, 0, 0, 1}, 9000, 0, 0, "admin", "", 1);
        dvr->SetPollingFlag(1);
        document.deviceList.push_back(std::move(dvr));
    }
    document.searchDatabaseDirectory = directory;

    CatSeconds(directory, false); // warms the page cache
    const double total = double(kDvrs) * kRecords;
    std::printf("files: %d x %d records (%.0f MB)\n", kDvrs, kRecords, total * 24 / 1e6);
    for (bool pipe : {false, true}) {
        const double cat = CatSeconds(directory, pipe);
        std::printf("cat %s: %.3f s, %.0f MB/s, %.1f M records/s\n", pipe ? "| wc -c  " : "> /dev/null", cat,
                    total * 24 / 1e6 / cat, total / 1e6 / cat);
    }
    for (bool wide : {false, true}) {
        const Figures f = Run(document, wide);
        // cat again beside each search: the machine's load moves both alike.
        const double cat = CatSeconds(directory, true);
        std::printf("%s filter: search page %.3f s (%.1f M records/s; cat | wc -c beside it %.3f s, %.1f M "
                    "records/s), %d rows listed, longest event-loop pause %lld ms\n",
                    wide ? "wide  " : "narrow", f.pageSeconds, total / 1e6 / f.pageSeconds, cat, total / 1e6 / cat,
                    f.rows, static_cast<long long>(f.longestPauseMs));
        std::printf("  where the time goes: scanning %.3f s (%.1f M records/s; the page's search thread); listing "
                    "the same rows %.3f s (%.0f k rows/s, all on one thread here; the page splits it between its "
                    "list thread and the window's), of which the window's layout and painting %.3f s; on the "
                    "page scanning and listing overlap\n",
                    f.readerSeconds, total / 1e6 / f.readerSeconds, f.listSeconds,
                    f.rows / 1e3 / std::max(f.listSeconds, 1e-9), f.eventsSeconds);
    }
    return 0;
}
