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

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <chrono>
#include <map>
#include <thread>
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
