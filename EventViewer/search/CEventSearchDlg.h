#pragma once
// The event search page (dialog 8058): picks DVRs, a date and time range,
// event types with their kinds, channels and an address, runs the 20
// database readers on the search thread and lists what they found, one
// reader at a time, on the list-fill thread.
#include "CFileMgr.h"
#include "SearchResultModel.h"
#include "platform/Messages.h"
#include "platform/Timers.h"
#include "platform/WorkerThread.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimeEdit;
class QTreeWidget;
class SettingsDocument;

enum EventSearchIds {
    IDD_EVENT_SEARCH = 8058,
    IDC_SEARCH_DVR_LIST = 8591,
    IDC_SEARCH_RESULT_LIST = 8600,
    IDC_SEARCH_SUMMARY = 8601,
    IDC_SEARCH_ALL_DVR = 8618,
    IDC_FROM_DVR = 8604,
    IDC_TO_DVR = 8605,
    IDC_USE_DATE = 8619,
    IDC_FROM_DAY = 8616,
    IDC_TO_DAY = 8617,
    IDC_FROM_TIME = 1512,
    IDC_TO_TIME = 1050,
    IDC_SEARCH_MOTION = 1496,
    IDC_SEARCH_SENSOR = 1497,
    IDC_SEARCH_VIDEO_LOSS = 8597,
    IDC_SEARCH_RECORD_START = 1504,
    IDC_RECORD_START_KIND = 8645,
    IDC_SEARCH_RECORD_STOP = 1506,
    IDC_RECORD_STOP_KIND = 8648,
    IDC_SEARCH_POWER_ON = 8598,
    IDC_SEARCH_POWER_OFF = 1505,
    IDC_SEARCH_MENU_CHANGE = 8599,
    IDC_MENU_KIND = 8647,
    IDC_SEARCH_NETWORK_CONNECT = 8615,
    IDC_USER_KIND = 8644,
    IDC_USE_IP_ADDRESS = 8641,
    IDC_IP_ADDRESS = 1011,
    IDC_FIRST_CHANNEL = 8623, // C1..C16 are 8623..8638
    IDC_ALL_CHANNEL = 8649,
    IDC_SEARCH_ALL_EVENT = 8650,
    IDC_SEARCH = 8610,
    IDC_SEARCH_STOP = 1509,
    IDC_SEARCH_SCROLL = 8612,
};

inline constexpr const char* kDateRangeErrorDay = "Date Range Error!";
inline constexpr const char* kDateRangeErrorTime = "Date Range Error";
inline constexpr const char* kStatusNoData = "No Data";
inline constexpr const char* kStatusBufferFull = "Buffer Full";
inline constexpr const char* kSearchStatusReady = "Ready";
inline constexpr const char* kSearchStatusDone = "Done";

class CEventSearchDlg : public QWidget, public platform::MessageReceiver {
public:
    static constexpr int kReaders = 20;
    enum : unsigned { kTimerDispatch = 1000, kTimerSearchAgain = 3000 };
    static constexpr int kDispatchMs = 100;
    static constexpr int kSearchAgainMs = 1000;
    // Rows handed from the list-fill thread to the list in one go: a whole
    // reader's at most. Each hand-over makes the list's header work out the
    // place of every row again, so few large ones list millions of rows many
    // times faster than many small ones.
    static constexpr int kListBatch = 65536;

    // `saveSettings` writes the document's settings files.
    CEventSearchDlg(SettingsDocument* document, std::function<void()> saveSettings, QWidget* parent = nullptr);
    ~CEventSearchDlg() override;

    void OnInitDialog();
    void OnSearch();
    void OnStop();
    // Where the next search reads (the setup dialog's search database).
    void SetSearchDirectory(const QString& directory);
    QString SearchDirectory() const { return searchDirectory_; }

    // Option handlers, as the controls call them.
    void OnAllDvr();
    void OnFromDvrChanged();
    void OnToDvrChanged();
    void OnUseDate();
    void OnNetworkConnect();
    void OnUseIpAddress();
    void OnAllChannel();
    void OnAllEvent();
    void OnDvrListRightClick();
    // A click on a result column; false while the search still runs.
    bool SortResults(int column);

    // A search has been started and has neither ended nor been stopped.
    bool Searching() const;
    bool Stopped() const { return stopped_; }
    int Started() const { return started_; }
    int Finished() const { return finished_; }
    int Assigned() const { return assigned_; }
    int Results() const { return results_; }
    int RowCount() const;
    QString RowStatus(int row) const;
    QString RowReader(int row) const;
    bool RowChecked(int row) const;
    void SetRowChecked(int row, bool checked);
    const CFileMgr& Reader(int i) const { return *readers_[static_cast<std::size_t>(i)]; }
    // What the readers of a search started now would keep.
    SearchFilter FilterFromControls() const;
    SearchResultModel* ResultModel() const { return model_; }
    QString SummaryText() const;
    QPushButton* SearchButton() const { return search_; }
    QCheckBox* Check(int id) const;
    QComboBox* Combo(int id) const;
    QDateEdit* FromDay() const { return fromDay_; }
    QDateEdit* ToDay() const { return toDay_; }
    QTimeEdit* FromTime() const { return fromTime_; }
    QTimeEdit* ToTime() const { return toTime_; }
    QLineEdit* AddressEdit() const { return address_; }
    QTableView* ResultList() const { return resultList_; }
    QTreeWidget* DvrList() const { return dvrList_; }

    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class RowState { Idle, Waiting, Scanning, Ready, Listing, Done, NoData, BufferFull };
    struct Row {
        RowState state = RowState::Idle;
        int reader = -1;
    };

    void CreateControls();
    void StartSearchThread();
    // Hands the next waiting DVR to a free reader; the reader's index + 1,
    // or 0 when nothing was handed out.
    platform::LRESULT AssignReader();
    void OnSearchDone(int row, platform::LPARAM result);
    void DispatchPendingLists();
    void StartListFill(int reader);
    void TakeRows();
    void OnListDone(int reader);
    void OnTimer(unsigned id);
    bool RowsWaiting() const;
    void EndIfFinished();
    void SetStatus(int row, const QString& text);
    void WriteSummary();
    void StopThreads();

    SettingsDocument* document_;
    std::function<void()> saveSettings_;
    QString searchDirectory_;
    std::array<std::unique_ptr<CFileMgr>, kReaders> readers_;

    QTreeWidget* dvrList_ = nullptr;
    QTableView* resultList_ = nullptr;
    SearchResultModel* model_ = nullptr;
    QCheckBox* allDvr_ = nullptr;
    QComboBox* fromDvr_ = nullptr;
    QComboBox* toDvr_ = nullptr;
    QCheckBox* useDate_ = nullptr;
    QDateEdit* fromDay_ = nullptr;
    QDateEdit* toDay_ = nullptr;
    QTimeEdit* fromTime_ = nullptr;
    QTimeEdit* toTime_ = nullptr;
    std::vector<QCheckBox*> eventChecks_;
    std::array<QCheckBox*, 16> channelChecks_{};
    QComboBox* recordStartKind_ = nullptr;
    QComboBox* recordStopKind_ = nullptr;
    QComboBox* menuKind_ = nullptr;
    QComboBox* userKind_ = nullptr;
    QCheckBox* useIpAddress_ = nullptr;
    QLineEdit* address_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* scrollButton_ = nullptr;
    QLabel* summary_ = nullptr;

    platform::TimerSet timers_;
    platform::WorkerThread searchThread_;
    platform::WorkerThread listThread_;

    // All of these live on the GUI thread; the threads reach them only
    // through sent messages.
    std::vector<Row> rows_;
    SearchFilter filter_;
    bool stopped_ = true;
    bool busy_ = false;
    int assigned_ = 0;
    int started_ = 0;
    int finished_ = 0;
    int listState_ = -1; // -1 nothing listed yet, 0 a list-fill runs, 1 free
    int listReader_ = 0;
    int results_ = 0;
    bool scroll_ = true;
    bool allChannelSet_ = false;
    bool allEventSet_ = false;
    bool rightClickChecked_ = false;
    int sortColumn_ = -1;
    bool sortAscending_ = false;

    // Rows the list-fill thread has made and the list has not taken yet.
    std::mutex pendingLock_;
    std::vector<SearchResultRow> pendingRows_;
};
