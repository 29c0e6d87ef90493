// What a polling pass costs the event database of one DVR.
//
//   pass_bench [DIR]   one DVR file of 1,000,000 records in time order (24 MB,
//       made once in DIR, default /tmp/vyr-pass-bench, cut back to its
//       million records at each run). A pass stores what the DVR answers from
//       its last stored event's time: that event again and five new ones.
//       Printed: the append of such a pass, as the viewer repeats it pass
//       after pass; the first pass of a viewer that has just started (a
//       process of its own), with the file in the page cache and with it
//       put out of it (where the file system honours the request); and,
//       for comparison, passes over a file whose DVR's clock went back an
//       hour shortly before.
#include "EventViewer/event/EventDatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRecords = 1000000;
constexpr int kNewPerPass = 5;
const QString kDvr = QStringLiteral("Gate");
// Events stored beyond the new ones: events stored twice.
std::size_t storedTwice = 0;

// The DVR's log: one event every two seconds from 1 May 2024; from event
// `clockBackAt` on (none when negative) its clock reads an hour less.
struct DvrLog {
    int clockBackAt = -1;
    EventRecord Event(int k) const
    {
        const int second = k * 2 - (clockBackAt >= 0 && k >= clockBackAt ? 3600 : 0);
        EventRecord r;
        r.key = static_cast<uint32_t>(k);
        r.packedTime =
            PackEventTime({2024, 5, 1 + second / 86400, (second / 3600) % 24, (second / 60) % 60, second % 60});
        r.eventClass = kClassCamera;
        r.subKind = 2;
        r.channelMask = 1u << (k % 16);
        return r;
    }
    // What the DVR answers, in log order, once it has logged `count` events,
    // from the time of the last one stored (`count` - new - 1): every event
    // of that time or later. Only the last hour's can be.
    std::vector<EventRecord> Answer(int count, int newEvents) const
    {
        const uint32_t from = EventTimeOrder(Event(count - newEvents - 1).packedTime);
        std::vector<EventRecord> batch;
        for (int k = std::max(0, count - newEvents - 1 - 2000); k < count; ++k)
            if (EventTimeOrder(Event(k).packedTime) >= from)
                batch.push_back(Event(k));
        return batch;
    }
};

// The file holds the first `count` events of the log, and nothing else.
void MakeDatabase(const QString& directory, const DvrLog& log, int count)
{
    QDir().mkpath(directory);
    const QString path = eventdb::DatabaseFilePath(directory, kDvr);
    QFile::remove(path);
    // Stored as written, without the duplicate test, as a file built over
    // months of passes stands.
    std::vector<uint8_t> bytes(static_cast<std::size_t>(count) * 24);
    for (int k = 0; k < count; ++k)
        log.Event(k).ToBytes(bytes.data() + static_cast<std::size_t>(k) * 24);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

// Microseconds of one pass's append; `stored` counts the events logged and
// stored so far.
double TimedPass(const QString& directory, const DvrLog& log, int* stored)
{
    *stored += kNewPerPass;
    const std::vector<EventRecord> batch = log.Answer(*stored, kNewPerPass);
    QElapsedTimer clock;
    clock.start();
    const eventdb::AppendResult result = eventdb::AppendBatch(directory, kDvr, batch);
    const double us = clock.nsecsElapsed() / 1e3;
    storedTwice += result.fresh.size() - std::min(result.fresh.size(), std::size_t{kNewPerPass});
    return us;
}

struct Spread {
    double median = 0, mean = 0, worst = 0;
};

Spread SpreadOf(std::vector<double> us)
{
    Spread s;
    std::sort(us.begin(), us.end());
    s.median = us[us.size() / 2];
    for (double u : us)
        s.mean += u / static_cast<double>(us.size());
    s.worst = us.back();
    return s;
}

// `passes` passes over a file of the log's first million events and the
// `before` passes' new ones.
Spread Passes(const QString& directory, const DvrLog& log, int passes, int before = 0)
{
    int stored = kRecords + before * kNewPerPass;
    std::vector<double> us;
    for (int p = 0; p < passes; ++p)
        us.push_back(TimedPass(directory, log, &stored));
    return SpreadOf(us);
}

// One pass in a process of its own, as the first pass of a viewer just
// started; `cold` puts the file out of the page cache first.
double FirstPassOfAProcess(const QString& directory, bool cold)
{
    const QString path = eventdb::DatabaseFilePath(directory, kDvr);
    QFile(path).resize(qint64(kRecords) * 24);
    if (cold) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        // As the viewer does on start for the "Time" column of its DVRs.
        eventdb::LastStoredRecord(directory, kDvr);
        int stored = kRecords;
        const double us = TimedPass(directory, DvrLog{}, &stored);
        (void)!::write(pipeEnds[1], &us, sizeof us);
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    double us = -1;
    (void)!::read(pipeEnds[0], &us, sizeof us);
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    return us;
}

void Print(const char* what, const Spread& s)
{
    std::printf("%-56s median %8.1f us, mean %8.1f us, worst %8.1f us; events stored twice: %zu\n", what, s.median,
                s.mean, s.worst, storedTwice);
    storedTwice = 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QString directory = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/vyr-pass-bench");
    std::printf("one DVR file of %d records (%.0f MB), %d new events a pass\n", kRecords, kRecords * 24 / 1e6,
                kNewPerPass);

    MakeDatabase(directory, DvrLog{}, kRecords);
    Passes(directory, DvrLog{}, 20); // the file in the page cache, the viewer under way
    Print("events in time order, pass after pass:", Passes(directory, DvrLog{}, 500, 20));

    for (const bool cold : {false, true}) {
        std::vector<double> us;
        for (int run = 0; run < 9; ++run)
            us.push_back(FirstPassOfAProcess(directory, cold));
        Print(cold ? "first pass of a viewer, file out of the page cache:" : "first pass of a viewer, file in the page cache:",
              SpreadOf(us));
    }

    // The DVR's clock went back an hour 1,000 events ago: the answers hold
    // the 800 events of that hour stored before it, again at every pass.
    const DvrLog clockBack{kRecords - 1000};
    MakeDatabase(directory, clockBack, kRecords);
    Passes(directory, clockBack, 1);
    Print("clock back an hour 1,000 events ago, pass after pass:", Passes(directory, clockBack, 100, 1));
    QFile::remove(eventdb::DatabaseFilePath(directory, kDvr));
    return 0;
}
