#pragma once
// The event monitor (dialog 8047): polls the event logs of the checked DVRs in
// passes through the hidden control instances, hands each fetched batch to
// one writer thread at a time, shows the new events and sounds their alarms.
#include "EventViewer/event/EventRecord.h"
#include "AlarmSound.h"
#include "PollingInstances.h"
#include "platform/Messages.h"
#include "platform/Timers.h"

#include <QList>
#include <QWidget>

#include <array>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class SettingsDocument;

enum EventDlgIds {
    IDD_EVENT_MONITOR = 8047,
    IDC_DVR_LIST = 8591,
    IDC_EVENT_LIST = 8600,
    IDC_MAX_POLLING = 8614,
    IDC_INTERVAL_NUMBER = 1507,
    IDC_INTERVAL_UNIT = 1508,
    IDC_ALL_EVENT = 8650,
    IDC_TRACKING = 8589,
    IDC_STOP = 1509,
    IDC_SCROLL = 8612,
    IDC_SUMMARY = 8601,
    IDC_CONNECTION_TEXT = 8654,
};

// Show check boxes and alarm combos, by event type.
inline constexpr int kShowCheckIds[8] = {1496, 1497, 1504, 8597, 8598, 1505, 8599, 8615};
inline constexpr int kAlarmComboIds[8] = {1090, 1091, 1095, 1092, 1093, 1096, 1094, 1097};

class CEventDlg : public QWidget, public platform::MessageReceiver {
public:
    // Timer ids.
    enum : unsigned {
        kTimerHandOut = 1000,
        kTimerDispatch = 5000,
        kTimerNextPass = 10000,
        kTimerUnmute = 30000,
        kTimerEnableButtons = 88888,
        kTimerReadyToStart = 99999,
    };
    static constexpr int kHandOutMs = 300;
    static constexpr int kDispatchMs = 100;
    static constexpr int kNextPassRetryMs = 3000;
    static constexpr int kUnmuteMs = 4000;
    static constexpr int kButtonsMs = 2000;
    static constexpr int kReadyToStartMs = 2000;
    static constexpr int kPollTimeoutMs = 180000;
    // The live list is emptied before it would grow past this.
    static constexpr int kMaxLiveRows = 65536;
    // A database file that will not open is tried this often in one pass.
    static constexpr int kMaxWriteTries = 3;
    static constexpr int kCommandEventLog = 32;

    // `saveSettings` writes the document's settings files.
    CEventDlg(SettingsDocument* document, PollingInstances* instances, std::function<void()> saveSettings,
              QWidget* parent = nullptr);
    ~CEventDlg() override;

    // Fills the lists and restores the settings; the page is then ready.
    void OnInitDialog();
    // Stops and joins the writer; nothing is polled or written afterwards.
    void Shutdown();

    void OnTracking();
    void OnStop();
    void OnAllEvent();
    void StartPollingPass();

    // A notice of a control instance (progress or link error), with the
    // instance's display index, which is its slot.
    void OnInstanceNotice(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam);
    void StartWriteDb(int slot);
    void ReportPollFailure(const QString& text, int slot);
    void FinishDvr(int row, const QString& text);
    void DispatchPendingWrites();
    // The control instance of `slot` is disconnected and cleared when it
    // holds a connection.
    void ReleasePollSlot(int slot);

    // Where the monitor writes; the setup dialog replaces it.
    void SetDatabaseDirectory(const QString& directory);
    QString DatabaseDirectory() const { return databaseDirectory_; }
    // Stops polling and backs the database up, telling the operator how it went.
    void BackupDatabase();

    // Played for every batch with a sounding record and every "Not
    // Responding"; when set, it takes the place of the alarm sound.
    std::function<void()> onAlarm;
    // Run when the operator agrees to back up after the size warning, before
    // the backup (the search page stops its search here).
    std::function<void()> onBeforeBackup;

    // State, for the view and the tests.
    bool Idle() const { return idle_; }
    bool StopRequested() const { return stopRequested_; }
    int Started() const { return started_; }
    int Done() const { return done_; }
    int Active() const { return active_; }
    int NotResponding() const { return notResponding_; }
    int Results() const { return results_; }
    int WriterState() const { return writerState_; }
    bool AlarmMuted() const { return alarmMuted_; }
    int AlarmsStarted() const { return alarmsStarted_; }
    int PollTimeoutMs() const { return pollTimeoutMs_; }
    int RowCount() const;
    QString RowText(int row, int column) const;
    void SetRowChecked(int row, bool checked);
    bool SlotBusy(int slot) const { return slots_[static_cast<std::size_t>(slot)].busy; }
    QTreeWidget* DvrList() const { return dvrList_; }
    QTreeWidget* EventList() const { return eventList_; }
    QString SummaryText() const;
    QPushButton* TrackingButton() const { return tracking_; }
    QPushButton* StopButton() const { return stop_; }
    QComboBox* MaxPollingCombo() const { return maxPolling_; }
    QCheckBox* ShowCheck(int type) const { return showChecks_[static_cast<std::size_t>(type)]; }
    QComboBox* AlarmCombo(int type) const { return alarmCombos_[static_cast<std::size_t>(type)]; }
    // Sorts the live list by a column, as a click on its header does; false
    // while a pass is still writing.
    bool SortEventList(int column);

    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct PollSlot {
        bool busy = false;
        int row = 0;
        QString dvrName;
        std::vector<EventRecord> batch; // copied out of the instance on arrival
    };
    struct RowState {
        bool finished = false; // counted once, whatever arrives later
        int writeFailures = 0;
    };
    struct WriteOutcome {
        uint64_t pass = 0;
        int slot = 0;
        int row = 0;
        std::vector<EventRecord> batch;
        bool stored = false; // the whole batch is in the file
        std::vector<EventRecord> fresh; // what the duplicate test let through
        qint64 fileSize = 0;
    };
    enum class PollResult { Handed, Consumed, NoFreeSlot };

    void CreateControls();
    void OnTimer(unsigned id);
    void OnRowTimeOut(unsigned row);
    void HandOutRows();
    PollResult PollDvr(int row);
    void StartWriter(int slot);
    void OnWriteDone();
    // A live-list row for a record; counts it in `results`.
    QTreeWidgetItem* MakeEventRow(const QString& dvrName, const EventRecord& record, const EventWords& words);
    void AddEventRows(const QList<QTreeWidgetItem*>& rows);
    void TakeControlValues();
    void SaveAlarmSettings();
    void RestoreAlarmSettings();
    void SetStatus(int row, const QString& text);
    QString Status(int row) const;
    bool RowChecked(int row) const;
    void FreeSlot(int slot);
    void WriteSummary(const char* format);
    void ShowConnectionText(QTreeWidgetItem* item);
    void ToggleAllChecks();
    void PlayAlarm();
    void EndPass();
    bool PassFinished() const;
    void JoinWriter();

    SettingsDocument* document_;
    PollingInstances* instances_;
    std::function<void()> saveSettings_;
    QString databaseDirectory_;

    QTreeWidget* dvrList_ = nullptr;
    QTreeWidget* eventList_ = nullptr;
    QComboBox* maxPolling_ = nullptr;
    QComboBox* intervalNumber_ = nullptr;
    QComboBox* intervalUnit_ = nullptr;
    std::array<QCheckBox*, 8> showChecks_{};
    std::array<QComboBox*, 8> alarmCombos_{};
    QPushButton* allEvent_ = nullptr;
    QPushButton* tracking_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* scrollButton_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* connectionText_ = nullptr;

    platform::TimerSet timers_;
    platform::TimerSet rowTimers_; // the per-DVR time-outs, by row
    std::array<PollSlot, PollingInstances::kSlots> slots_{};
    std::vector<RowState> rowStates_;
    // Per row, the packed DVR time of the newest stored event (0: none): the
    // next poll starts there.
    std::vector<uint32_t> lastStoredTime_;

    int started_ = 0;
    int done_ = 0;
    int active_ = 0;
    int notResponding_ = 0;
    int results_ = 0;
    int maxActive_ = 5;
    int intervalMs_ = 30 * 60 * 1000;
    int pollTimeoutMs_ = kPollTimeoutMs;
    bool idle_ = true;
    bool stopRequested_ = false;
    bool readyToStart_ = true;
    bool alarmMuted_ = false;
    bool scroll_ = true;
    bool allEventSet_ = false;     // "All Event" last checked every box
    bool rightClickChecked_ = false;
    int writerState_ = -1; // -1 nothing written this pass, 0 a writer runs, 1 free
    uint64_t pass_ = 0;
    int alarmsStarted_ = 0;
    std::array<bool, 8> shown_{};
    std::array<bool, 8> beeps_{};
    int sortColumn_ = -1;
    bool sortAscending_ = false;

    AlarmSound alarmSound_;
    std::thread writer_;
    std::mutex outcomeLock_;
    std::deque<WriteOutcome> outcomes_;
};
