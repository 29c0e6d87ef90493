#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "platform/Timers.h"
#include "platform/WorkerThread.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <memory>
#include <fstream>
#include <iterator>
#include <string>
#include <chrono>
#include <map>
#include <thread>
#include <limits>
#include <vector>

namespace {

using namespace platform;

class Receiver : public QWidget, public MessageReceiver {
public:
    LRESULT OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override
    {
        EXPECT_EQ(QThread::currentThread(), thread());
        received.push_back({message, wParam, lParam});
        return static_cast<LRESULT>(wParam) * 2;
    }
    struct Entry {
        uint32_t message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Entry> received;

protected:
    bool event(QEvent* e) override { return HandleMessageEvent(e, this) || QWidget::event(e); }
};

void PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(Messages, SendOnOwnThreadAnswersAtOnce)
{
    Receiver r;
    EXPECT_EQ(SendMessage(&r, WM_USER + 5, 21, -3), 42);
    ASSERT_EQ(r.received.size(), 1u);
    EXPECT_EQ(r.received[0].lParam, -3);
    EXPECT_EQ(SendMessage(nullptr, WM_USER, 1, 1), 0);
}

TEST(Messages, PostedMessagesFromManyThreadsKeepEachSendersOrder)
{
    Receiver r;
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&r, t] {
            for (int k = 0; k < kEach; ++k)
                PostMessage(&r, WM_USER + static_cast<uint32_t>(t), static_cast<WPARAM>(k), 0);
        });
    for (auto& s : senders)
        s.join();
    PumpUntil([&] { return r.received.size() == kThreads * kEach; });
    ASSERT_EQ(r.received.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (const auto& e : r.received) {
        const int t = static_cast<int>(e.message - WM_USER);
        EXPECT_EQ(static_cast<int>(e.wParam), next[t]++);
    }
}

TEST(Messages, SendFromWorkerWaitsForTheAnswer)
{
    Receiver r;
    std::atomic<LRESULT> answer{-1};
    std::thread worker([&] { answer = SendMessage(&r, WM_USER + 1, 50, 0); });
    PumpUntil([&] { return answer.load() != -1; });
    worker.join();
    EXPECT_EQ(answer.load(), 100);
}

TEST(Messages, StopFlagReleasesAWorkerWhoseReceiverIsBusyJoiningIt)
{
    Receiver r;
    WorkerThread worker;
    std::atomic<int> sent{0};
    worker.Start([&](WorkerThread& self) {
        while (!self.StopRequested()) {
            SendMessage(&r, WM_USER + 2, 1, 0, &self.StopFlag());
            ++sent;
        }
    });
    PumpUntil([&] { return sent.load() > 10; });
    // Joined from a thread that serves no messages while the GUI thread
    // pumps nothing either: only the stop flag can free the worker's send.
    QElapsedTimer clock;
    clock.start();
    std::thread joiner([&] { worker.StopAndJoin(); });
    joiner.join();
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(worker.Running());
    EXPECT_GT(r.received.size(), 10u);
}

TEST(Messages, JoinServesSentMessagesSoAWorkerCanFinishItsWork)
{
    Receiver r;
    WorkerThread worker;
    std::atomic<LRESULT> lastAnswer{0};
    std::atomic<bool> started{false};
    worker.Start([&](WorkerThread&) {
        started = true;
        // Ignores the stop flag on purpose: only a join that serves sent
        // messages lets it end.
        for (int k = 1; k <= 5; ++k)
            lastAnswer = SendMessage(&r, WM_USER + 3, static_cast<WPARAM>(k), 0);
    });
    while (!started.load())
        std::this_thread::yield();
    worker.StopAndJoin();
    EXPECT_EQ(lastAnswer.load(), 10);
    EXPECT_EQ(r.received.size(), 5u);
}

// Whether the thread `tid` of this process sleeps in the kernel ('S').
bool ThreadSleeps(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto end = text.rfind(')');
    return end != std::string::npos && end + 2 < text.size() && text[end + 2] == 'S';
}

TEST(Messages, SendToAReceiverDestroyedBeforeHandlingReturnsZero)
{
    auto* r = new Receiver;
    std::atomic<LRESULT> answer{-1};
    std::atomic<pid_t> sender{0};
    std::thread worker([&] {
        sender = static_cast<pid_t>(syscall(SYS_gettid));
        answer = SendMessage(r, WM_USER + 1, 9, 0);
    });
    // Destroyed once the message is queued, Qt drops its pending events: the
    // sender has queued it once it sleeps waiting for the answer, twice in a
    // row, however late its thread began.
    while (sender.load() == 0)
        std::this_thread::yield();
    for (int asleep = 0; asleep < 2;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        asleep = ThreadSleeps(sender.load()) ? asleep + 1 : 0;
    }
    EXPECT_EQ(answer.load(), -1);
    delete r;
    worker.join();
    EXPECT_EQ(answer.load(), 0);
}

TEST(WorkerThreadTest, SleepIsCutShortByStop)
{
    WorkerThread worker;
    std::atomic<bool> wokeEarly{false};
    worker.Start([&](WorkerThread& self) { wokeEarly = !self.SleepFor(60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QElapsedTimer clock;
    clock.start();
    worker.StopAndJoin();
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(wokeEarly.load());
    // It can be started again after a stop.
    std::atomic<int> runs{0};
    worker.Start([&](WorkerThread&) { ++runs; });
    worker.StopAndJoin();
    EXPECT_EQ(runs.load(), 1);
}

// A waiter that looks at a shared count and waits, against a waker that
// raises the count and wakes it: no raise may be missed, whenever each side
// runs, so every wait ends by a wake and none by its time.
TEST(WorkerThreadTest, AWakeIsNeverLostWhicheverSideComesFirst)
{
    static std::atomic<unsigned> seed{1};
    WorkerThread::SetStartHookForTests([] {
        // Starts late, by up to 2 ms, as on a loaded machine.
        std::this_thread::sleep_for(std::chrono::microseconds(seed.fetch_add(7919) % 2000));
    });
    for (int run = 0; run < 20; ++run) {
        constexpr int kRaises = 500;
        std::atomic<int> count{0};
        std::atomic<int> seen{0};
        std::atomic<int> timedOut{0};
        WorkerThread waiter;
        waiter.Start([&](WorkerThread& self) {
            while (seen.load() < kRaises) {
                if (count.load() > seen.load()) {
                    seen = count.load();
                    continue;
                }
                const auto before = std::chrono::steady_clock::now();
                if (!self.WaitFor(10000))
                    return;
                if (std::chrono::steady_clock::now() - before >= std::chrono::seconds(10))
                    ++timedOut;
            }
        });
        for (int k = 0; k < kRaises; ++k) {
            ++count;
            waiter.Wake();
            if (k % 50 == 0)
                std::this_thread::yield();
        }
        for (int k = 0; k < 2000 && seen.load() < kRaises; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(seen.load(), kRaises) << "run " << run;
        EXPECT_EQ(timedOut.load(), 0) << "run " << run;
        waiter.StopAndJoin();
    }
    WorkerThread::SetStartHookForTests(nullptr);
}

TEST(WorkerThreadTest, AWakeEndsAWaitButNeitherASleepNorASocketWait)
{
    WorkerThread worker;
    std::atomic<int> stage{0};
    std::atomic<int64_t> sleptMs{-1};
    std::atomic<bool> woken{false};
    worker.Start([&](WorkerThread& self) {
        stage = 1;
        const auto start = std::chrono::steady_clock::now();
        self.SleepFor(300);
        sleptMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                      .count();
        stage = 2;
        woken = self.Wait(); // the wake given during the sleep ends this at once
        stage = 3;
        self.Wait(); // nothing wakes this but the stop
    });
    while (stage.load() < 1)
        std::this_thread::yield();
    worker.Wake();
    struct pollfd p {};
    p.fd = worker.WakeFd();
    p.events = POLLIN;
    EXPECT_EQ(poll(&p, 1, 0), 0) << "a wake must not end a socket's wait";
    for (int k = 0; k < 2000 && stage.load() < 3; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(sleptMs.load(), 300) << "a wake must not cut a sleep short";
    EXPECT_TRUE(woken.load());
    ASSERT_EQ(stage.load(), 3);
    EXPECT_TRUE(worker.Running());
    worker.RequestStop();
    EXPECT_EQ(poll(&p, 1, 0), 1) << "a stop ends a socket's wait";
    worker.StopAndJoin();
    EXPECT_FALSE(worker.Running());
}

TEST(WorkerThreadTest, ATimedWaitLastsItsTimeWhenNothingWakesIt)
{
    WorkerThread worker;
    std::vector<int64_t> waited;
    std::vector<std::chrono::steady_clock::duration> pastWaits;
    std::atomic<bool> done{false};
    worker.Start([&](WorkerThread& self) {
        for (int ms : {1, 7, 30, 120}) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE(self.WaitFor(ms));
            waited.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
        }
        // A time already past, as a caller works it out from a clock read
        // late after its own check, returns at once: never a wait for a wake
        // that may not come.
        for (int64_t past : {int64_t{0}, int64_t{-1}, int64_t{-5000}, std::numeric_limits<int64_t>::min() / 2}) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE(self.WaitFor(past));
            pastWaits.push_back(std::chrono::steady_clock::now() - start);
        }
        const auto steadyMs = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
        {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE(self.WaitUntilMs(steadyMs() - 1000));
            pastWaits.push_back(std::chrono::steady_clock::now() - start);
        }
        {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE(self.WaitUntilMs(steadyMs() + 30));
            waited.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
        }
        EXPECT_TRUE(self.WaitUntil(std::chrono::steady_clock::now() - std::chrono::seconds(1)));
        done = true;
    });
    // Bounded, so that a past time taken for no limit fails the test
    // rather than hanging it: the stop ends that wait.
    for (int k = 0; k < 6000 && !done.load(); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    worker.StopAndJoin();
    ASSERT_EQ(waited.size(), 5u);
    EXPECT_GE(waited[0], 1000);
    EXPECT_GE(waited[1], 7000);
    EXPECT_GE(waited[2], 30000);
    EXPECT_GE(waited[3], 120000);
    EXPECT_GE(waited[4], 29000); // a moment of whole milliseconds: up to one sooner
    // Nothing wakes the thread, so a wait that took a past time for no
    // limit would have lasted until the stop, which comes only after `done`.
    ASSERT_EQ(pastWaits.size(), 5u);
    for (const auto& w : pastWaits)
        EXPECT_LT(w, std::chrono::seconds(5));
}

// Sixteen threads follow one shared state; its changes wake them all. The
// threads end and start again meanwhile, so the group's members come and go
// while it wakes them (a member that went and is woken would be a use after
// free under the sanitizers).
TEST(WorkerThreadTest, AGroupWakesEveryMemberAndLetsEndedOnesGo)
{
    constexpr int kThreads = 16;
    constexpr int kChanges = 200;
    WakeGroup group;
    std::atomic<int> state{0};
    std::array<std::atomic<int>, kThreads> seen{};
    auto body = [&](int t) {
        return [&, t](WorkerThread& self) {
            while (!self.StopRequested()) {
                const int now = state.load();
                if (now != seen[t].load()) {
                    seen[t] = now;
                    continue;
                }
                self.Wait();
            }
        };
    };
    std::vector<std::unique_ptr<WorkerThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.push_back(std::make_unique<WorkerThread>());
        threads.back()->Start(body(t), &group);
    }
    for (int change = 1; change <= kChanges; ++change) {
        state = change;
        group.WakeAll();
        if (change % 20 == 0) {
            const int t = change / 20 % kThreads;
            threads[t]->StopAndJoin();
            threads[t] = std::make_unique<WorkerThread>();
            threads[t]->Start(body(t), &group);
            group.WakeAll();
        }
    }
    for (int k = 0; k < 2000; ++k) {
        bool all = true;
        for (int t = 0; t < kThreads; ++t)
            all = all && seen[t].load() == kChanges;
        if (all)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(seen[t].load(), kChanges) << "thread " << t;
    threads.clear();
    group.WakeAll(); // no member is left to wake
}

// A member that makes the change itself goes on to wait for the next one:
// its own wake of the group reaches the others, never itself.
TEST(WorkerThreadTest, AGroupMembersOwnChangeWakesTheOthersButNotItself)
{
    using namespace std::chrono;
    constexpr int kWaitMs = 300;
    WakeGroup group;
    std::atomic<bool> otherWaits{false};
    std::atomic<int> otherWoken{0};
    WorkerThread other, changer;
    other.Start(
        [&](WorkerThread& self) {
            otherWaits = true;
            while (self.Wait())
                ++otherWoken;
        },
        &group);
    std::atomic<int64_t> waitedMs{-1};
    changer.Start(
        [&](WorkerThread& self) {
            while (!otherWaits.load())
                std::this_thread::sleep_for(milliseconds(1));
            group.WakeAll();
            const auto start = steady_clock::now();
            self.WaitFor(kWaitMs);
            waitedMs = duration_cast<milliseconds>(steady_clock::now() - start).count();
        },
        &group);
    for (int k = 0; k < 2000 && (waitedMs.load() < 0 || otherWoken.load() == 0); ++k)
        std::this_thread::sleep_for(milliseconds(5));
    EXPECT_GE(waitedMs.load(), kWaitMs) << "woken by its own change";
    EXPECT_EQ(otherWoken.load(), 1);
}

class TimerOwner : public QObject {
public:
    TimerOwner()
        : timers(this, [this](unsigned id) {
              fired.push_back(id);
              firstFiredAt.emplace(id, std::chrono::steady_clock::now());
          })
    {
    }
    TimerSet timers;
    std::vector<unsigned> fired;
    std::map<unsigned, std::chrono::steady_clock::time_point> firstFiredAt;

protected:
    void timerEvent(QTimerEvent* e) override { timers.Dispatch(e->timerId()); }
};

TEST(Timers, KeepTheCallersIdsAndCanBeSetFromAnotherThread)
{
    TimerOwner owner;
    owner.timers.SetTimer(270, 10);
    std::thread([&] { owner.timers.SetTimer(60000, 15); }).join();
    PumpUntil([&] {
        return std::count(owner.fired.begin(), owner.fired.end(), 270u) >= 2 &&
               std::count(owner.fired.begin(), owner.fired.end(), 60000u) >= 1;
    });
    EXPECT_GE(std::count(owner.fired.begin(), owner.fired.end(), 270u), 2);
    EXPECT_GE(std::count(owner.fired.begin(), owner.fired.end(), 60000u), 1);
    owner.timers.KillTimer(270);
    owner.timers.KillTimer(60000);
    EXPECT_FALSE(owner.timers.IsActive(270));
    owner.fired.clear();
    QEventLoop loop;
    QTimer::singleShot(60, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(owner.fired.empty());
}

TEST(Timers, ATimeOutNeverFiresBeforeItsTime)
{
    // Time-outs of about a second set at moments spread over a second, as
    // the link sets its connect and retry timers: each fires once its time
    // is up, never a part of it before.
    TimerOwner owner;
    constexpr unsigned kTimers = 24;
    std::map<unsigned, std::chrono::steady_clock::time_point> set;
    std::map<unsigned, int> interval;
    for (unsigned id = 1; id <= kTimers; ++id) {
        const int pauseMs = static_cast<int>(37 * id % 50);
        QElapsedTimer pause;
        pause.start();
        PumpUntil([&] { return pause.elapsed() >= pauseMs; });
        interval[id] = 900 + static_cast<int>(17 * id);
        set[id] = std::chrono::steady_clock::now();
        owner.timers.SetTimer(id, interval[id]);
    }
    PumpUntil([&] { return owner.firstFiredAt.size() == kTimers; }, 10000);
    ASSERT_EQ(owner.firstFiredAt.size(), kTimers);
    for (unsigned id = 1; id <= kTimers; ++id) {
        owner.timers.KillTimer(id);
        const double after = std::chrono::duration<double, std::milli>(owner.firstFiredAt[id] - set[id]).count();
        EXPECT_GE(after, interval[id]) << "timer " << id;
    }
}

TEST(MessageBoxHandler, RecordsTextsAndMarshalsWorkerBoxesToTheGuiThread)
{
    std::vector<std::string> texts;
    std::vector<bool> onGuiThread;
    auto previous = SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        texts.push_back(text);
        onGuiThread.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
        return IDNO;
    });
    EXPECT_EQ(MessageBox(nullptr, "Disk space is not enough.", "", MB_YESNO), IDNO);
    int workerAnswer = 0;
    std::thread([&] { workerAnswer = MessageBox(nullptr, "Record File Open Error!"); }).join();
    EXPECT_EQ(workerAnswer, IDOK);
    PumpUntil([&] { return texts.size() == 2; });
    SetMessageBoxHandler(previous);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], "Record File Open Error!");
    EXPECT_TRUE(onGuiThread[0]);
    EXPECT_TRUE(onGuiThread[1]);
}

TEST(MessageBoxHandler, BoxesWithoutACaptionCarryTheApplicationTitle)
{
    std::vector<std::string> captions;
    auto previous = SetMessageBoxHandler([&](const std::string&, const std::string& caption, unsigned) {
        captions.push_back(caption);
        return IDOK;
    });
    const std::string previousTitle = ApplicationTitle();
    SetApplicationTitle("Backup Viewer");
    MessageBox(nullptr, "Not Available");
    MessageBox(nullptr, "Fail To Copy a b", "Own Caption");
    std::thread([] { MessageBox(nullptr, "Disk space is not enough."); }).join();
    PumpUntil([&] { return captions.size() == 3; });
    SetMessageBoxHandler(previous);
    EXPECT_EQ(captions, (std::vector<std::string>{"Backup Viewer", "Own Caption", "Backup Viewer"}));

    // The real box, closed as soon as it shows.
    QString shownTitle;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownTitle = box->windowTitle();
            box->accept();
        }
    });
    closer.start(20);
    EXPECT_EQ(MessageBox(nullptr, "Not Available"), IDOK);
    SetApplicationTitle(previousTitle);
    EXPECT_EQ(shownTitle, "Backup Viewer");
}

} // namespace
