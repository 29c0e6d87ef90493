#include "CEventDlg.h"

#include "EventViewer/event/EventDatabase.h"
#include "MonitorTexts.h"
#include "EventViewer/view/EventListColumns.h"
#include "platform/MessageBox.h"
#include "viewercore/model/SettingsDocument.h"
#include "viewercore/widgets/SkinFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimerEvent>
#include <QTreeWidget>

#include <cstdlib>

using namespace monitor;

namespace {

constexpr uint32_t WM_EVENT_WRITE_DONE = platform::WM_USER + 0x300;

enum DvrColumns { kColumnName = 0, kColumnTime = 1, kColumnStatus = 2, kColumnSlot = 3 };
enum LiveColumns { kLiveIndex = 0, kLiveDvrName = 1, kLiveId = 2, kLiveTime = 4 };

// Tests shorten the per-DVR time-out the way the control's own time-outs
// are shortened.
int TestTimeDivisor()
{
    const char* text = std::getenv("VYR_TEST_TIME_DIVISOR");
    const long divisor = text ? std::strtol(text, nullptr, 10) : 1;
    return divisor > 1 && divisor <= 1000 ? static_cast<int>(divisor) : 1;
}

// A live-list row: "Index" and "ID" sort as numbers, the rest as bytes with
// the DVR name breaking ties.
class LiveItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == kLiveIndex || column == kLiveId)
            return text(column).toLongLong() < other.text(column).toLongLong();
        const QByteArray a = text(column).toLatin1().left(264);
        const QByteArray b = other.text(column).toLatin1().left(264);
        if (a != b)
            return a < b;
        return text(kLiveDvrName).toLatin1() < other.text(kLiveDvrName).toLatin1();
    }
};

} // namespace

CEventDlg::CEventDlg(SettingsDocument* document, PollingInstances* instances, std::function<void()> saveSettings,
                     QWidget* parent)
    : QWidget(parent), document_(document), instances_(instances), saveSettings_(std::move(saveSettings)),
      timers_(this, [this](unsigned id) { OnTimer(id); }),
      rowTimers_(this, [this](unsigned row) { OnRowTimeOut(row); })
{
    setObjectName(QString::number(IDD_EVENT_MONITOR));
    pollTimeoutMs_ = kPollTimeoutMs / TestTimeDivisor();
    // An empty directory read from the settings never becomes a path here.
    databaseDirectory_ =
        document_->databaseDirectory.isEmpty() ? DefaultDatabaseDirectory() : document_->databaseDirectory;
    CreateControls();
}

CEventDlg::~CEventDlg()
{
    Shutdown();
}

void CEventDlg::Shutdown()
{
    stopRequested_ = true;
    idle_ = true;
    JoinWriter();
}

void CEventDlg::JoinWriter()
{
    if (writer_.joinable())
        writer_.join();
}

// ---- controls -----------------------------------------------------------------

void CEventDlg::CreateControls()
{
    dvrList_ = new QTreeWidget(this);
    dvrList_->setObjectName(QString::number(IDC_DVR_LIST));
    dvrList_->setHeaderLabels({"DVR Name", "Time", "Status", ""});
    dvrList_->setRootIsDecorated(false);
    dvrList_->setColumnWidth(kColumnName, 130);
    dvrList_->setColumnWidth(kColumnTime, std::max(140, TimeColumnWidth(dvrList_)));
    dvrList_->setColumnWidth(kColumnStatus, 140);
    dvrList_->setColumnHidden(kColumnSlot, true);
    dvrList_->setContextMenuPolicy(Qt::CustomContextMenu);
    dvrList_->setGeometry(10, 10, 430, 220);
    QObject::connect(dvrList_, &QTreeWidget::itemClicked, this,
                     [this](QTreeWidgetItem* item, int) { ShowConnectionText(item); });
    QObject::connect(dvrList_, &QWidget::customContextMenuRequested, this, [this] { ToggleAllChecks(); });

    connectionText_ = new QLabel(this);
    connectionText_->setObjectName(QString::number(IDC_CONNECTION_TEXT));
    connectionText_->setGeometry(10, 234, 430, 20);

    auto label = [this](const QString& text, int x, int y, int w) {
        auto* l = new QLabel(text, this);
        l->setGeometry(x, y, w, 20);
    };
    label("Maximum Polling No.", 450, 10, 130);
    maxPolling_ = new QComboBox(this);
    maxPolling_->setObjectName(QString::number(IDC_MAX_POLLING));
    for (int i = 1; i <= 16; ++i)
        maxPolling_->addItem(QString::number(i));
    maxPolling_->setGeometry(585, 10, 60, 22);
    QObject::connect(maxPolling_, qOverload<int>(&QComboBox::currentIndexChanged), this,
                     [this](int index) { maxActive_ = index + 1; });

    label("Polling Interval", 450, 38, 130);
    intervalNumber_ = new QComboBox(this);
    intervalNumber_->setObjectName(QString::number(IDC_INTERVAL_NUMBER));
    for (int i = 1; i <= 60; ++i)
        intervalNumber_->addItem(QString::number(i));
    intervalNumber_->setGeometry(585, 38, 60, 22);
    intervalUnit_ = new QComboBox(this);
    intervalUnit_->setObjectName(QString::number(IDC_INTERVAL_UNIT));
    intervalUnit_->addItems({"min", "hour"});
    intervalUnit_->setGeometry(650, 38, 65, 22);

    for (int type = 0; type < kEventTypeCount; ++type) {
        const int y = 68 + type * 20;
        auto* check = new QCheckBox(kEventTypeNames[type], this);
        check->setObjectName(QString::number(kShowCheckIds[type]));
        check->setGeometry(450, y, 130, 19);
        QObject::connect(check, &QCheckBox::toggled, this, [this, type](bool on) { shown_[type] = on; });
        auto* combo = new QComboBox(this);
        combo->setObjectName(QString::number(kAlarmComboIds[type]));
        combo->addItems({kAlarmOff, kAlarmBeep});
        combo->setGeometry(585, y, 70, 19);
        QObject::connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
                         [this, type](int index) { beeps_[type] = index == 1; });
        showChecks_[type] = check;
        alarmCombos_[type] = combo;
    }
    allEvent_ = new QPushButton("All Event", this);
    allEvent_->setObjectName(QString::number(IDC_ALL_EVENT));
    allEvent_->setGeometry(665, 68, 75, 22);
    QObject::connect(allEvent_, &QPushButton::clicked, this, [this] { OnAllEvent(); });

    tracking_ = new QPushButton("Tracking", this);
    tracking_->setObjectName(QString::number(IDC_TRACKING));
    tracking_->setGeometry(760, 10, 110, 28);
    QObject::connect(tracking_, &QPushButton::clicked, this, [this] { OnTracking(); });
    stop_ = new QPushButton("Stop", this);
    stop_->setObjectName(QString::number(IDC_STOP));
    stop_->setGeometry(760, 44, 110, 28);
    QObject::connect(stop_, &QPushButton::clicked, this, [this] { OnStop(); });
    scrollButton_ = new QPushButton("Scroll On/Off", this);
    scrollButton_->setObjectName(QString::number(IDC_SCROLL));
    scrollButton_->setGeometry(760, 78, 110, 28);
    QObject::connect(scrollButton_, &QPushButton::clicked, this, [this] { scroll_ = !scroll_; });

    summary_ = new QLabel(this);
    summary_->setObjectName(QString::number(IDC_SUMMARY));
    summary_->setGeometry(450, 234, 540, 20);

    eventList_ = new QTreeWidget(this);
    eventList_->setObjectName(QString::number(IDC_EVENT_LIST));
    eventList_->setHeaderLabels({"Index", "DVR Name", "ID", "Event Type", "Time", "From", "IP Addresss", "Channel"});
    eventList_->setRootIsDecorated(false);
    eventList_->setUniformRowHeights(true);
    eventList_->setAllColumnsShowFocus(true);
    eventList_->setColumnWidth(0, 110);
    for (int c = 1; c < 8; ++c)
        eventList_->setColumnWidth(c, 120);
    eventList_->setColumnWidth(kLiveTime, TimeColumnWidth(eventList_));
    eventList_->header()->setSectionsClickable(true);
    QObject::connect(eventList_->header(), &QHeaderView::sectionClicked, this,
                     [this](int column) { SortEventList(column); });
}

void CEventDlg::resizeEvent(QResizeEvent*)
{
    // The live list fills the page below the settings.
    eventList_->setGeometry(10, 263, std::max(100, width() - 17), std::max(50, height() - 263 - 10));
}

void CEventDlg::OnInitDialog()
{
    RestoreAlarmSettings();
    QDir().mkpath(databaseDirectory_);
    dvrList_->clear();
    rowStates_.clear();
    lastStoredTime_.clear();
    for (const auto& dvr : document_->deviceList) {
        auto* item = new QTreeWidgetItem(dvrList_);
        item->setText(kColumnName, dvr->name);
        item->setCheckState(kColumnName, dvr->PollingFlag() ? Qt::Checked : Qt::Unchecked);
        const std::optional<EventRecord> last = eventdb::LastStoredRecord(databaseDirectory_, dvr->name);
        item->setText(kColumnTime, last ? EventTimeText(last->packedTime) : QStringLiteral("0"));
        rowStates_.emplace_back();
        lastStoredTime_.push_back(last ? last->packedTime : 0);
    }
    TakeControlValues();
}

void CEventDlg::RestoreAlarmSettings()
{
    const EventViewerSettings& s = document_->eventSettings;
    maxPolling_->setCurrentIndex(std::min<int>(s.maximumPolling, 15));
    intervalNumber_->setCurrentIndex(std::min<int>(s.intervalNumber, 59));
    intervalUnit_->setCurrentIndex(std::min<int>(s.intervalUnit, 1));
    for (int type = 0; type < kEventTypeCount; ++type) {
        const uint16_t word = s.eventWords[static_cast<std::size_t>(type)];
        showChecks_[type]->setChecked(word != 0);
        alarmCombos_[type]->setCurrentIndex(word == 2 ? 1 : 0);
    }
}

void CEventDlg::SaveAlarmSettings()
{
    EventViewerSettings& s = document_->eventSettings;
    s.maximumPolling = static_cast<uint16_t>(maxPolling_->currentIndex());
    s.intervalNumber = static_cast<uint16_t>(intervalNumber_->currentIndex());
    s.intervalUnit = static_cast<uint16_t>(intervalUnit_->currentIndex());
    for (int type = 0; type < kEventTypeCount; ++type) {
        const bool shown = showChecks_[type]->isChecked();
        s.eventWords[static_cast<std::size_t>(type)] =
            shown ? (alarmCombos_[type]->currentText() == kAlarmOff ? 1 : 2) : 0;
    }
    if (saveSettings_)
        saveSettings_();
}

void CEventDlg::TakeControlValues()
{
    maxActive_ = maxPolling_->currentIndex() + 1;
    const int number = intervalNumber_->currentIndex() + 1;
    intervalMs_ = number * 1000 * (intervalUnit_->currentIndex() == 1 ? 3600 : 60);
    for (int type = 0; type < kEventTypeCount; ++type) {
        shown_[type] = showChecks_[type]->isChecked();
        beeps_[type] = alarmCombos_[type]->currentText() == kAlarmBeep;
    }
}

void CEventDlg::OnAllEvent()
{
    allEventSet_ = !allEventSet_;
    for (QCheckBox* check : showChecks_)
        check->setChecked(allEventSet_);
    SaveAlarmSettings();
}

void CEventDlg::ToggleAllChecks()
{
    rightClickChecked_ = !rightClickChecked_;
    for (int row = 0; row < RowCount(); ++row)
        SetRowChecked(row, rightClickChecked_);
}

void CEventDlg::ShowConnectionText(QTreeWidgetItem* item)
{
    const int row = dvrList_->indexOfTopLevelItem(item);
    if (row < 0 || row >= static_cast<int>(document_->deviceList.size())) {
        connectionText_->setText(kStatusNoDvr);
        return;
    }
    const CDVR& dvr = *document_->deviceList[static_cast<std::size_t>(row)];
    if (dvr.addressType == CDVR::AddressFixed)
        connectionText_->setText(QString(kFixedAddressText).arg(dvr.addressText, dvr.loginId).arg(dvr.port));
    else
        connectionText_->setText(QString(kLookupAddressText).arg(dvr.loginId).arg(dvr.port));
}

// ---- rows ---------------------------------------------------------------------

int CEventDlg::RowCount() const
{
    return dvrList_->topLevelItemCount();
}

QString CEventDlg::RowText(int row, int column) const
{
    const QTreeWidgetItem* item = dvrList_->topLevelItem(row);
    return item ? item->text(column) : QString();
}

QString CEventDlg::Status(int row) const
{
    return RowText(row, kColumnStatus);
}

void CEventDlg::SetStatus(int row, const QString& text)
{
    if (QTreeWidgetItem* item = dvrList_->topLevelItem(row))
        item->setText(kColumnStatus, text);
}

bool CEventDlg::RowChecked(int row) const
{
    const QTreeWidgetItem* item = dvrList_->topLevelItem(row);
    return item && item->checkState(kColumnName) == Qt::Checked;
}

void CEventDlg::SetRowChecked(int row, bool checked)
{
    if (QTreeWidgetItem* item = dvrList_->topLevelItem(row))
        item->setCheckState(kColumnName, checked ? Qt::Checked : Qt::Unchecked);
}

QString CEventDlg::SummaryText() const
{
    return summary_->text();
}

void CEventDlg::WriteSummary(const char* format)
{
    summary_->setText(QString(format).arg(done_).arg(results_).arg(notResponding_));
}

// ---- the pass -------------------------------------------------------------------

void CEventDlg::OnTracking()
{
    stopRequested_ = false;
    StartPollingPass();
}

void CEventDlg::StartPollingPass()
{
    if (stopRequested_)
        return;
    tracking_->setEnabled(false);
    if (!readyToStart_) {
        timers_.SetTimer(kTimerReadyToStart, kReadyToStartMs);
        return;
    }
    readyToStart_ = false;
    alarmMuted_ = false;
    notResponding_ = 0;
    for (int row = 0; row < RowCount(); ++row) {
        if (row < static_cast<int>(document_->deviceList.size()))
            document_->deviceList[static_cast<std::size_t>(row)]->SetPollingFlag(RowChecked(row) ? 1 : 0);
        SetStatus(row, QString());
        rowTimers_.KillTimer(static_cast<unsigned>(row));
    }
    rowStates_.assign(static_cast<std::size_t>(RowCount()), RowState{});
    eventList_->clear();
    results_ = 0;
    scroll_ = true;
    idle_ = false;
    ++pass_;

    for (int slot = 0; slot < PollingInstances::kSlots; ++slot)
        FreeSlot(slot);
    active_ = 0;
    writerState_ = -1;
    TakeControlValues();
    started_ = done_ = 0;
    HandOutRows();
    timers_.SetTimer(kTimerHandOut, kHandOutMs);
    SaveAlarmSettings();
}

void CEventDlg::HandOutRows()
{
    for (int row = 0; row < RowCount() && active_ < maxActive_ && !idle_; ++row) {
        if (!RowChecked(row) || !Status(row).isEmpty())
            continue;
        const PollResult result = PollDvr(row);
        if (result == PollResult::NoFreeSlot)
            break;
        if (result == PollResult::Handed)
            ++active_;
    }
}

CEventDlg::PollResult CEventDlg::PollDvr(int row)
{
    if (row >= static_cast<int>(document_->deviceList.size())) {
        SetStatus(row, kStatusNoDvr);
        rowStates_[static_cast<std::size_t>(row)].finished = true;
        return PollResult::Consumed;
    }
    const CDVR& dvr = *document_->deviceList[static_cast<std::size_t>(row)];
    if (!eventdb::IsUsableDvrName(dvr.name)) {
        // Its events could not be stored under this name.
        SetStatus(row, kStatusInvalidName);
        rowStates_[static_cast<std::size_t>(row)].finished = true;
        return PollResult::Consumed;
    }
    int slot = 0;
    while (slot < PollingInstances::kSlots && slots_[static_cast<std::size_t>(slot)].busy)
        ++slot;
    if (slot == PollingInstances::kSlots)
        return PollResult::NoFreeSlot;
    PollSlot& s = slots_[static_cast<std::size_t>(slot)];
    s.busy = true;
    s.row = row;
    s.dvrName = RowText(row, kColumnName);
    s.batch.clear();

    // From the DVR's own clock reading of its last stored event, not from
    // the text, which a clock change on the PC would move.
    const long startTime = static_cast<long>(PollStartInstant(lastStoredTime_[static_cast<std::size_t>(row)]));
    const QString address = dvr.addressType == CDVR::AddressFixed ? dvr.addressText : QString();
    instances_->SetEventInfo(slot, s.dvrName, dvr.loginId, dvr.password, address, static_cast<short>(dvr.port),
                             static_cast<short>(slot), static_cast<short>(row), startTime);
    ++started_;
    rowTimers_.SetTimer(static_cast<unsigned>(row), pollTimeoutMs_);
    SetStatus(row, kStatusPolling);
    if (QTreeWidgetItem* item = dvrList_->topLevelItem(row))
        item->setText(kColumnSlot, QString::number(slot));
    instances_->Connect(slot);
    return PollResult::Handed;
}

void CEventDlg::OnStop()
{
    stopRequested_ = true;
    if (idle_)
        return;
    stop_->setEnabled(false);
    idle_ = true;
    started_ = done_ = 0;
    for (int slot = 0; slot < PollingInstances::kSlots; ++slot)
        FreeSlot(slot);
    for (int row = 0; row < RowCount(); ++row)
        rowTimers_.KillTimer(static_cast<unsigned>(row));
    for (unsigned id : {kTimerHandOut, kTimerDispatch, kTimerNextPass})
        timers_.KillTimer(id);
    timers_.SetTimer(kTimerEnableButtons, kButtonsMs);
}

bool CEventDlg::PassFinished() const
{
    if (done_ != started_)
        return false;
    // Finished batches can balance the count before the hand-out timer has
    // given the waiting rows an instance: the pass is over only when every
    // checked DVR has come to an end in it.
    for (int row = 0; row < RowCount(); ++row)
        if (RowChecked(row) && !rowStates_[static_cast<std::size_t>(row)].finished)
            return false;
    return true;
}

void CEventDlg::EndPass()
{
    idle_ = true;
    timers_.KillTimer(kTimerHandOut);
    // A pass in which no DVR answered still has a next one.
    if (!stopRequested_ && !timers_.IsActive(kTimerNextPass))
        timers_.SetTimer(kTimerNextPass, intervalMs_);
    timers_.SetTimer(kTimerEnableButtons, kButtonsMs);
}

void CEventDlg::timerEvent(QTimerEvent* event)
{
    if (timers_.Dispatch(event->timerId()) || rowTimers_.Dispatch(event->timerId()))
        return;
    QWidget::timerEvent(event);
}

void CEventDlg::OnTimer(unsigned id)
{
    if (id == kTimerReadyToStart) {
        timers_.KillTimer(id);
        readyToStart_ = true;
        StartPollingPass();
        return;
    }
    if (id == kTimerNextPass) {
        timers_.KillTimer(id);
        if (stopRequested_)
            return;
        if (done_ == started_ && idle_)
            StartPollingPass();
        else
            timers_.SetTimer(kTimerNextPass, kNextPassRetryMs);
        return;
    }
    if (idle_) {
        timers_.KillTimer(id);
        if (id == kTimerEnableButtons) {
            tracking_->setEnabled(true);
            stop_->setEnabled(true);
        }
        return;
    }
    switch (id) {
    case kTimerUnmute:
        alarmMuted_ = false;
        break;
    case kTimerHandOut:
        HandOutRows();
        if (PassFinished())
            EndPass();
        break;
    case kTimerDispatch:
        timers_.KillTimer(id);
        DispatchPendingWrites();
        break;
    default:
        break;
    }
}

void CEventDlg::OnRowTimeOut(unsigned rowId)
{
    rowTimers_.KillTimer(rowId);
    const int row = static_cast<int>(rowId);
    if (Status(row) != kStatusPolling)
        return;
    for (int slot = 0; slot < PollingInstances::kSlots; ++slot)
        if (slots_[static_cast<std::size_t>(slot)].busy && slots_[static_cast<std::size_t>(slot)].row == row)
            FreeSlot(slot);
    FinishDvr(row, kStatusTimeOut);
}

void CEventDlg::ReleasePollSlot(int slot)
{
    if (slot < 0 || slot >= PollingInstances::kSlots || !instances_->isConnect(slot))
        return;
    instances_->DisConnectSvr(slot);
    instances_->ClearInfo(slot);
    slots_[static_cast<std::size_t>(slot)] = PollSlot{};
}

void CEventDlg::FreeSlot(int slot)
{
    // A finished DVR's instance is free for the next row at once: the
    // control ends its session before it tells of the end.
    ReleasePollSlot(slot);
    slots_[static_cast<std::size_t>(slot)] = PollSlot{};
}

void CEventDlg::FinishDvr(int row, const QString& text)
{
    if (idle_ || row < 0 || row >= RowCount())
        return;
    RowState& state = rowStates_[static_cast<std::size_t>(row)];
    if (state.finished || Status(row) == text)
        return;
    SetStatus(row, text);
    if (text == kStatusNotResponding) {
        alarmMuted_ = true;
        timers_.SetTimer(kTimerUnmute, kUnmuteMs);
        ++notResponding_;
        if (scroll_)
            dvrList_->scrollToItem(dvrList_->topLevelItem(row));
        TakeControlValues();
    }
    if (!text.isEmpty()) {
        ++done_;
        state.finished = true;
    } else {
        --started_; // counted again when it is polled again
    }
    --active_;
    WriteSummary(kSummaryOnFinish);
}

void CEventDlg::ReportPollFailure(const QString& text, int slot)
{
    if (slot < 0 || slot >= PollingInstances::kSlots || !slots_[static_cast<std::size_t>(slot)].busy)
        return;
    const int row = slots_[static_cast<std::size_t>(slot)].row;
    rowTimers_.KillTimer(static_cast<unsigned>(row));
    FreeSlot(slot);
    FinishDvr(row, text);
}

void CEventDlg::OnInstanceNotice(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    const int slot = static_cast<int>(lParam);
    if (slot < 0 || slot >= PollingInstances::kSlots)
        return;
    if (message == vyrdax::WM_VIDEO_PROGRESS) {
        switch (wParam) {
        case 0:
            instances_->CmdToDVR(slot, kCommandEventLog, 0);
            break;
        case 1:
            if (!idle_)
                StartWriteDb(slot);
            break;
        case 2:
            ReportPollFailure(kStatusPortIncorrect, slot);
            break;
        case 3:
            ReportPollFailure(kStatusNotResponding, slot);
            PlayAlarm();
            break;
        default:
            break;
        }
    } else if (message == vyrdax::WM_VIDEO_LINK_ERROR) {
        const QString text = wParam == 0 ? kStatusReceiveError : wParam == 1 ? kStatusLoginError : QString();
        ReportPollFailure(text, slot);
    }
}

// ---- writing ----------------------------------------------------------------------

void CEventDlg::StartWriteDb(int slot)
{
    if (idle_ || slot < 0 || slot >= PollingInstances::kSlots)
        return;
    PollSlot& s = slots_[static_cast<std::size_t>(slot)];
    if (!s.busy || Status(s.row) != kStatusPolling)
        return; // a late answer of a session this pass no longer waits for
    const int row = s.row;
    SetStatus(row, kStatusReady);
    if (scroll_)
        dvrList_->scrollToItem(dvrList_->topLevelItem(row));
    rowTimers_.KillTimer(static_cast<unsigned>(row));

    // The instance reuses its table at its next poll: the batch is copied now.
    const DVyrdaxTable table = instances_->GetEventData(slot);
    if (!ReadEventBatch(table.data, table.size, &s.batch)) {
        FreeSlot(slot);
        FinishDvr(row, kStatusNoEventData);
        return;
    }
    if (writerState_ != -1) {
        DispatchPendingWrites();
        return;
    }
    StartWriter(slot);
    timers_.SetTimer(kTimerNextPass, intervalMs_);
}

void CEventDlg::DispatchPendingWrites()
{
    if (idle_)
        return;
    for (int row = 0; row < RowCount() && writerState_ == 1; ++row) {
        // Unchecked meanwhile or not, a fetched batch is stored.
        if (Status(row) != kStatusReady)
            continue;
        for (int slot = 0; slot < PollingInstances::kSlots; ++slot) {
            const PollSlot& s = slots_[static_cast<std::size_t>(slot)];
            if (s.busy && s.row == row) {
                StartWriter(slot);
                break;
            }
        }
    }
    if (PassFinished())
        EndPass();
    else
        timers_.SetTimer(kTimerDispatch, kDispatchMs);
}

void CEventDlg::StartWriter(int slot)
{
    if (idle_)
        return;
    PollSlot& s = slots_[static_cast<std::size_t>(slot)];
    // One writer at a time: one of an ended pass is waited for.
    JoinWriter();
    writerState_ = 0;
    SetStatus(s.row, kStatusWriteDb);
    if (scroll_)
        dvrList_->scrollToItem(dvrList_->topLevelItem(s.row));
    WriteOutcome job;
    job.pass = pass_;
    job.slot = slot;
    job.row = s.row;
    job.batch = s.batch;
    const QString directory = databaseDirectory_;
    const QString dvrName = s.dvrName;
    writer_ = std::thread([this, job = std::move(job), directory, dvrName]() mutable {
        eventdb::AppendResult result = eventdb::AppendBatch(directory, dvrName, job.batch);
        job.stored = result.Stored();
        job.fresh = std::move(result.fresh);
        job.fileSize = result.fileSize;
        {
            std::lock_guard<std::mutex> lock(outcomeLock_);
            outcomes_.push_back(std::move(job));
        }
        platform::PostMessage(this, WM_EVENT_WRITE_DONE, 0, 0);
    });
}

bool CEventDlg::event(QEvent* e)
{
    if (platform::HandleMessageEvent(e, this))
        return true;
    return QWidget::event(e);
}

platform::LRESULT CEventDlg::OnMessage(uint32_t message, platform::WPARAM, platform::LPARAM)
{
    if (message == WM_EVENT_WRITE_DONE)
        OnWriteDone();
    return 0;
}

void CEventDlg::OnWriteDone()
{
    WriteOutcome outcome;
    {
        std::lock_guard<std::mutex> lock(outcomeLock_);
        if (outcomes_.empty())
            return;
        outcome = std::move(outcomes_.front());
        outcomes_.pop_front();
    }
    JoinWriter();
    const int slot = outcome.slot;
    const int row = outcome.row;
    const std::vector<EventRecord>& batch = outcome.batch;
    // What was stored sets the next poll's start even when the pass has
    // ended, or the next batch would reach back past the duplicate test.
    if (outcome.stored && !batch.empty()) {
        lastStoredTime_[static_cast<std::size_t>(row)] = batch.back().packedTime;
        if (QTreeWidgetItem* item = dvrList_->topLevelItem(row))
            item->setText(kColumnTime, EventTimeText(batch.back().packedTime));
    }
    if (outcome.pass != pass_ || idle_)
        return; // the pass it was written for has ended
    PollSlot& s = slots_[static_cast<std::size_t>(slot)];
    const QString dvrName = s.dvrName;
    if (!outcome.stored) {
        FreeSlot(slot);
        writerState_ = 1;
        RowState& state = rowStates_[static_cast<std::size_t>(row)];
        // Nothing is lost: an empty status polls the DVR again in this pass,
        // from its last stored event, a few times only.
        FinishDvr(row, ++state.writeFailures < kMaxWriteTries ? QString() : QString(kStatusDatabaseError));
        return;
    }
    if (outcome.fileSize > eventdb::kSizeWarningBytes) {
        const int answer = platform::MessageBox(this, eventdb::kSizeWarningText, "Event Viewer",
                                                platform::MB_OKCANCEL | platform::MB_ICONWARNING);
        if (answer == platform::IDOK)
            BackupDatabase();
    }
    if (idle_)
        return;
    // The rows of a batch go into the list together: one at a time, a batch
    // of tens of thousands would hold the window for minutes. A batch sounds
    // the alarm once, however many of its records beep.
    QList<QTreeWidgetItem*> rows;
    bool beep = false;
    for (const EventRecord& record : outcome.fresh) {
        const EventWords words = DescribeEvent(record);
        if (!words.hasRow)
            continue;
        if (words.type != kTypeNone && !shown_[words.type])
            continue;
        beep = beep || (words.type != kTypeNone && beeps_[words.type] && !alarmMuted_);
        if (eventList_->topLevelItemCount() + rows.size() >= kMaxLiveRows) {
            qDeleteAll(rows);
            rows.clear();
            eventList_->clear();
        }
        rows.push_back(MakeEventRow(dvrName, record, words));
    }
    AddEventRows(rows);
    if (beep)
        PlayAlarm();
    if (scroll_)
        dvrList_->scrollToItem(dvrList_->topLevelItem(row));
    s.busy = false;
    WriteSummary(kSummaryOnWrite);
    FreeSlot(slot);
    writerState_ = 1;
    FinishDvr(row, kStatusDone);
    // A batch waiting as "Ready" is written now rather than at the next
    // dispatch tick.
    DispatchPendingWrites();
}

QTreeWidgetItem* CEventDlg::MakeEventRow(const QString& dvrName, const EventRecord& record, const EventWords& words)
{
    ++results_;
    return new LiveItem(QStringList{QString::number(results_), dvrName, QString::number(record.key), words.eventType,
                                    EventTimeText(record.packedTime), words.from, words.ip, words.channel});
}

void CEventDlg::AddEventRows(const QList<QTreeWidgetItem*>& rows)
{
    if (rows.isEmpty())
        return;
    const int first = eventList_->topLevelItemCount();
    for (int i = 0; i < rows.size(); ++i)
        rows[i]->setData(0, Qt::UserRole, first + i);
    eventList_->addTopLevelItems(rows);
    if (scroll_)
        eventList_->scrollToItem(rows.back());
    WriteSummary(kSummaryOnWrite);
}

bool CEventDlg::SortEventList(int column)
{
    if (!idle_ && done_ != started_)
        return false;
    if (column != sortColumn_)
        sortAscending_ = false;
    sortColumn_ = column;
    sortAscending_ = !sortAscending_;
    eventList_->sortItems(column, sortAscending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
    for (int i = 0; i < eventList_->topLevelItemCount(); ++i)
        eventList_->topLevelItem(i)->setData(0, Qt::UserRole, i);
    return true;
}

void CEventDlg::PlayAlarm()
{
    ++alarmsStarted_;
    if (onAlarm) {
        onAlarm();
        return;
    }
    // Resolved now: the sound thread may start it after the current
    // directory has changed.
    alarmSound_.Play(QFile::encodeName(QDir::current().absoluteFilePath(kAlarmSoundFile)).toStdString());
}

// ---- the database -----------------------------------------------------------------

void CEventDlg::SetDatabaseDirectory(const QString& directory)
{
    databaseDirectory_ = directory.isEmpty() ? DefaultDatabaseDirectory() : directory;
}

void CEventDlg::BackupDatabase()
{
    if (onBeforeBackup)
        onBeforeBackup();
    OnStop();
    // The files are renamed away under nothing that still writes them.
    JoinWriter();
    QStringList names;
    for (const auto& dvr : document_->deviceList)
        names << dvr->name;
    const eventdb::BackupResult result = eventdb::BackupEventDb(databaseDirectory_, names);
    if (result.ok)
        platform::MessageBox(this, eventdb::kBackupCompleteText);
    else
        platform::MessageBox(this, ("The data base could not be backed up. " + result.error).toStdString(),
                             "Event Viewer", platform::MB_ICONWARNING);
}
