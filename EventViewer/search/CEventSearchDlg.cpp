#include "CEventSearchDlg.h"

#include "EventViewer/view/EventListColumns.h"
#include "platform/MessageBox.h"
#include "viewercore/model/SettingsDocument.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableView>
#include <QTimeEdit>
#include <QTimerEvent>
#include <QTreeWidget>

#include <algorithm>

namespace {

// Private messages from the search and list-fill threads.
constexpr uint32_t WM_SEARCH_ASSIGN = platform::WM_USER + 0x801;
constexpr uint32_t WM_SEARCH_ROWS = platform::WM_USER + 0x802;
constexpr uint32_t WM_SEARCH_LIST_DONE = platform::WM_USER + 0x803;

enum DvrColumns { kColumnName = 0, kColumnStatus = 1, kColumnReader = 2 };

struct EventBox {
    int id;
    const char* text;
};
// The event-type boxes, in the order "All Event" and the filter read them.
const EventBox kEventBoxes[] = {
    {IDC_SEARCH_MOTION, " Motion"},          {IDC_SEARCH_SENSOR, " Sensor"},
    {IDC_SEARCH_VIDEO_LOSS, " Video Loss"},  {IDC_SEARCH_RECORD_START, "Start Record"},
    {IDC_SEARCH_RECORD_STOP, "Stop Record"}, {IDC_SEARCH_POWER_ON, "DVR Power On"},
    {IDC_SEARCH_POWER_OFF, "DVR Power Off"}, {IDC_SEARCH_MENU_CHANGE, "Menu Change"},
    {IDC_SEARCH_NETWORK_CONNECT, "Network Connect"},
};
enum EventBoxIndex { kMotion, kSensor, kVideoLoss, kRecordStart, kRecordStop, kPowerOn, kPowerOff, kMenu, kNetwork };

const uint8_t kRecordKinds[] = {kAnyKind, kKindManual, kKindSchedule, kKindNetwork};
const uint8_t kMenuKinds[] = {kAnyKind, kMenuAtDvr, kMenuFromNetwork};
const uint8_t kUserKinds[] = {kAnyKind, kUserAdmin, kUserOther};

uint8_t KindOf(const QComboBox* combo, const uint8_t* kinds, int count)
{
    const int i = combo->currentIndex();
    return i >= 0 && i < count ? kinds[i] : kAnyKind;
}

// The address control's four fields; a blank field reads 0.
std::array<int, 4> AddressBytes(const QString& text)
{
    std::array<int, 4> bytes{0, 0, 0, 0};
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        bytes[static_cast<std::size_t>(i)] = std::clamp(parts[i].trimmed().toInt(), 0, 255);
    return bytes;
}

} // namespace

CEventSearchDlg::CEventSearchDlg(SettingsDocument* document, std::function<void()> saveSettings, QWidget* parent)
    : QWidget(parent), document_(document), saveSettings_(std::move(saveSettings)),
      timers_(this, [this](unsigned id) { OnTimer(id); })
{
    setObjectName(QString::number(IDD_EVENT_SEARCH));
    // Room for every reader's records is set aside with the page.
    for (auto& reader : readers_)
        reader = std::make_unique<CFileMgr>();
    CreateControls();
}

CEventSearchDlg::~CEventSearchDlg()
{
    stopped_ = true;
    StopThreads();
}

// ---- controls -------------------------------------------------------------------

void CEventSearchDlg::CreateControls()
{
    auto named = [](QWidget* w, int id) {
        w->setObjectName(QString::number(id));
        return w;
    };
    auto label = [this](const QString& text, int x, int y, int w) {
        auto* l = new QLabel(text, this);
        l->setGeometry(x, y, w, 20);
    };
    auto check = [this, &named](int id, const QString& text, int x, int y, int w) {
        auto* box = new QCheckBox(text, this);
        named(box, id);
        box->setGeometry(x, y, w, 20);
        return box;
    };
    auto combo = [this, &named](int id, const QStringList& items, int x, int y, int w) {
        auto* c = new QComboBox(this);
        named(c, id);
        c->addItems(items);
        c->setGeometry(x, y, w, 20);
        return c;
    };
    auto button = [this, &named](int id, const QString& text, int x, int y, int w, int h) {
        auto* b = new QPushButton(text, this);
        named(b, id);
        b->setGeometry(x, y, w, h);
        return b;
    };

    dvrList_ = new QTreeWidget(this);
    named(dvrList_, IDC_SEARCH_DVR_LIST);
    dvrList_->setHeaderLabels({"DVR Name", "Status", ""});
    dvrList_->setRootIsDecorated(false);
    dvrList_->setColumnWidth(kColumnName, 140);
    dvrList_->setColumnWidth(kColumnStatus, 133);
    dvrList_->setColumnHidden(kColumnReader, true);
    dvrList_->setContextMenuPolicy(Qt::CustomContextMenu);
    dvrList_->setGeometry(10, 10, 285, 250);
    QObject::connect(dvrList_, &QWidget::customContextMenuRequested, this, [this] { OnDvrListRightClick(); });

    allDvr_ = check(IDC_SEARCH_ALL_DVR, "DVR", 10, 266, 60);
    QObject::connect(allDvr_, &QCheckBox::clicked, this, [this] { OnAllDvr(); });

    label("From", 305, 10, 35);
    fromDvr_ = combo(IDC_FROM_DVR, {}, 340, 10, 100);
    label("To", 445, 10, 20);
    toDvr_ = combo(IDC_TO_DVR, {}, 465, 10, 95);
    // Only the operator's picks: refilling a combo is no pick.
    QObject::connect(fromDvr_, qOverload<int>(&QComboBox::activated), this, [this] { OnFromDvrChanged(); });
    QObject::connect(toDvr_, qOverload<int>(&QComboBox::activated), this, [this] { OnToDvrChanged(); });

    useDate_ = check(IDC_USE_DATE, "Date", 305, 40, 80);
    QObject::connect(useDate_, &QCheckBox::clicked, this, [this] { OnUseDate(); });
    label("From", 305, 64, 35);
    label("To", 305, 90, 35);
    const QDate today = QDate::currentDate();
    auto day = [this, &named](int id, int y, const QDate& date) {
        auto* edit = new QDateEdit(date, this);
        named(edit, id);
        edit->setDisplayFormat("yyyy/MM/dd");
        edit->setCalendarPopup(true);
        edit->setGeometry(340, y, 120, 22);
        return edit;
    };
    auto time = [this, &named](int id, int y, const QTime& t) {
        auto* edit = new QTimeEdit(t, this);
        named(edit, id);
        edit->setDisplayFormat("HH:mm:ss");
        edit->setGeometry(465, y, 95, 22);
        return edit;
    };
    fromDay_ = day(IDC_FROM_DAY, 64, today);
    toDay_ = day(IDC_TO_DAY, 90, today);
    fromTime_ = time(IDC_FROM_TIME, 64, QTime(0, 0, 0));
    toTime_ = time(IDC_TO_TIME, 90, QTime(23, 59, 59));

    label("Channel", 305, 120, 80);
    for (int k = 0; k < 16; ++k)
        channelChecks_[static_cast<std::size_t>(k)] =
            check(IDC_FIRST_CHANNEL + k, QStringLiteral("C%1").arg(k + 1), 305 + (k % 4) * 60, 142 + (k / 4) * 22, 60);
    auto* allChannel = button(IDC_ALL_CHANNEL, "All Channel", 305, 234, 90, 22);
    QObject::connect(allChannel, &QPushButton::clicked, this, [this] { OnAllChannel(); });
    auto* allEvent = button(IDC_SEARCH_ALL_EVENT, "All Event", 400, 234, 90, 22);
    QObject::connect(allEvent, &QPushButton::clicked, this, [this] { OnAllEvent(); });

    const QStringList recordKinds{"All", "Manual", "Schedule", "Network"};
    for (int i = 0; i < static_cast<int>(std::size(kEventBoxes)); ++i)
        eventChecks_.push_back(check(kEventBoxes[i].id, kEventBoxes[i].text, 575, 10 + i * 24, 125));
    recordStartKind_ = combo(IDC_RECORD_START_KIND, recordKinds, 705, 10 + kRecordStart * 24, 90);
    recordStopKind_ = combo(IDC_RECORD_STOP_KIND, recordKinds, 705, 10 + kRecordStop * 24, 90);
    menuKind_ = combo(IDC_MENU_KIND, {"All", "DVR", "Network"}, 705, 10 + kMenu * 24, 90);
    userKind_ = combo(IDC_USER_KIND, {"All", "Admin", "User"}, 705, 10 + kNetwork * 24, 90);
    QObject::connect(eventChecks_[kNetwork], &QCheckBox::toggled, this, [this] { OnNetworkConnect(); });
    useIpAddress_ = check(IDC_USE_IP_ADDRESS, "IP Address", 575, 10 + 9 * 24, 100);
    QObject::connect(useIpAddress_, &QCheckBox::toggled, this, [this] { OnUseIpAddress(); });
    address_ = new QLineEdit(this);
    named(address_, IDC_IP_ADDRESS);
    address_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(R"((\d{0,3})(\.\d{0,3}){0,3})"), address_));
    address_->setGeometry(680, 10 + 9 * 24, 125, 22);

    search_ = button(IDC_SEARCH, "Search", 830, 10, 110, 28);
    QObject::connect(search_, &QPushButton::clicked, this, [this] { OnSearch(); });
    stop_ = button(IDC_SEARCH_STOP, "Stop", 830, 44, 110, 28);
    QObject::connect(stop_, &QPushButton::clicked, this, [this] { OnStop(); });
    scrollButton_ = button(IDC_SEARCH_SCROLL, "Scroll On/Off", 830, 78, 110, 28);
    QObject::connect(scrollButton_, &QPushButton::clicked, this, [this] { scroll_ = !scroll_; });

    summary_ = new QLabel(this);
    named(summary_, IDC_SEARCH_SUMMARY);
    summary_->setGeometry(305, 266, 300, 20);

    model_ = new SearchResultModel(this);
    resultList_ = new QTableView(this);
    named(resultList_, IDC_SEARCH_RESULT_LIST);
    resultList_->setModel(model_);
    resultList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    resultList_->setShowGrid(true);
    resultList_->verticalHeader()->hide();
    resultList_->verticalHeader()->setDefaultSectionSize(18);
    resultList_->setWordWrap(false);
    resultList_->setColumnWidth(SearchResultModel::kIndex, 110);
    for (int c = 1; c < SearchResultModel::kColumnCount; ++c)
        resultList_->setColumnWidth(c, 120);
    resultList_->setColumnWidth(SearchResultModel::kTime, TimeColumnWidth(resultList_));
    resultList_->horizontalHeader()->setSectionsClickable(true);
    QObject::connect(resultList_->horizontalHeader(), &QHeaderView::sectionClicked, this,
                     [this](int column) { SortResults(column); });
}

void CEventSearchDlg::resizeEvent(QResizeEvent*)
{
    resultList_->setGeometry(10, 296, std::max(100, width() - 17), std::max(50, height() - 296 - 10));
}

QCheckBox* CEventSearchDlg::Check(int id) const
{
    return findChild<QCheckBox*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

QComboBox* CEventSearchDlg::Combo(int id) const
{
    return findChild<QComboBox*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void CEventSearchDlg::OnInitDialog()
{
    SetSearchDirectory(document_->searchDatabaseDirectory);
    dvrList_->clear();
    fromDvr_->clear();
    toDvr_->clear();
    QStringList names;
    for (const auto& dvr : document_->deviceList) {
        auto* item = new QTreeWidgetItem(dvrList_);
        item->setText(kColumnName, dvr->name);
        item->setCheckState(kColumnName, dvr->PollingFlag() ? Qt::Checked : Qt::Unchecked);
        names << dvr->name;
    }
    rows_.assign(names.size(), Row{});
    model_->SetDvrNames(names);
    fromDvr_->addItems(names);
    toDvr_->addItems(names);
    fromDvr_->setCurrentIndex(names.isEmpty() ? -1 : 0);
    toDvr_->setCurrentIndex(names.isEmpty() ? -1 : 0);

    allDvr_->setChecked(false);
    useDate_->setChecked(true);
    for (QComboBox* c : {recordStartKind_, recordStopKind_, menuKind_, userKind_})
        c->setCurrentIndex(0);
    eventChecks_[kNetwork]->setChecked(false);
    useIpAddress_->setChecked(false);
    address_->clear();
    useIpAddress_->setEnabled(false);
    address_->setEnabled(false);
    OnUseDate();
    WriteSummary();
}

void CEventSearchDlg::SetSearchDirectory(const QString& directory)
{
    // The readers take it when they are handed out, never while one scans.
    searchDirectory_ = directory.isEmpty() ? DefaultDatabaseDirectory() : directory;
}

// ---- option handlers ------------------------------------------------------------

int CEventSearchDlg::RowCount() const
{
    return dvrList_->topLevelItemCount();
}

bool CEventSearchDlg::RowChecked(int row) const
{
    const QTreeWidgetItem* item = dvrList_->topLevelItem(row);
    return item && item->checkState(kColumnName) == Qt::Checked;
}

void CEventSearchDlg::SetRowChecked(int row, bool checked)
{
    if (QTreeWidgetItem* item = dvrList_->topLevelItem(row))
        item->setCheckState(kColumnName, checked ? Qt::Checked : Qt::Unchecked);
}

QString CEventSearchDlg::RowStatus(int row) const
{
    const QTreeWidgetItem* item = dvrList_->topLevelItem(row);
    return item ? item->text(kColumnStatus) : QString();
}

QString CEventSearchDlg::RowReader(int row) const
{
    const QTreeWidgetItem* item = dvrList_->topLevelItem(row);
    return item ? item->text(kColumnReader) : QString();
}

void CEventSearchDlg::OnAllDvr()
{
    for (int row = 0; row < RowCount(); ++row)
        SetRowChecked(row, allDvr_->isChecked());
}

void CEventSearchDlg::OnFromDvrChanged()
{
    const int from = fromDvr_->currentIndex();
    toDvr_->clear();
    for (int row = std::max(0, from); row < RowCount(); ++row)
        toDvr_->addItem(dvrList_->topLevelItem(row)->text(kColumnName));
    toDvr_->setCurrentIndex(toDvr_->count() > 0 ? 0 : -1);
}

void CEventSearchDlg::OnToDvrChanged()
{
    const int from = fromDvr_->currentIndex();
    const int to = toDvr_->currentIndex();
    if (from < 0 || to < 0)
        return;
    for (int row = 0; row < RowCount(); ++row)
        SetRowChecked(row, row >= from && row <= from + to);
}

void CEventSearchDlg::OnUseDate()
{
    const bool on = useDate_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{fromDay_, toDay_, fromTime_, toTime_})
        w->setEnabled(on);
}

void CEventSearchDlg::OnNetworkConnect()
{
    useIpAddress_->setEnabled(eventChecks_[kNetwork]->isChecked());
}

void CEventSearchDlg::OnUseIpAddress()
{
    address_->setEnabled(useIpAddress_->isChecked());
}

void CEventSearchDlg::OnAllChannel()
{
    allChannelSet_ = !allChannelSet_;
    for (QCheckBox* box : channelChecks_)
        box->setChecked(allChannelSet_);
}

void CEventSearchDlg::OnAllEvent()
{
    allEventSet_ = !allEventSet_;
    for (QCheckBox* box : eventChecks_)
        box->setChecked(allEventSet_);
    for (QCheckBox* box : channelChecks_)
        box->setChecked(allEventSet_);
}

void CEventSearchDlg::OnDvrListRightClick()
{
    rightClickChecked_ = !rightClickChecked_;
    for (int row = 0; row < RowCount(); ++row)
        SetRowChecked(row, rightClickChecked_);
}

// ---- the search -----------------------------------------------------------------

SearchFilter CEventSearchDlg::FilterFromControls() const
{
    SearchFilter f;
    f.motion = eventChecks_[kMotion]->isChecked();
    f.sensor = eventChecks_[kSensor]->isChecked();
    f.videoLoss = eventChecks_[kVideoLoss]->isChecked();
    f.recordStart = eventChecks_[kRecordStart]->isChecked();
    f.recordStop = eventChecks_[kRecordStop]->isChecked();
    f.powerOn = eventChecks_[kPowerOn]->isChecked();
    f.powerOff = eventChecks_[kPowerOff]->isChecked();
    f.menuChange = eventChecks_[kMenu]->isChecked();
    f.networkConnect = eventChecks_[kNetwork]->isChecked();
    if (f.recordStart)
        f.recordStartKind = KindOf(recordStartKind_, kRecordKinds, 4);
    if (f.recordStop)
        f.recordStopKind = KindOf(recordStopKind_, kRecordKinds, 4);
    if (f.menuChange)
        f.menuKind = KindOf(menuKind_, kMenuKinds, 3);
    if (f.networkConnect) {
        f.userKind = KindOf(userKind_, kUserKinds, 3);
        if (useIpAddress_->isChecked())
            f.address = AddressBytes(address_->text());
    }
    for (int k = 0; k < 16; ++k)
        if (channelChecks_[static_cast<std::size_t>(k)]->isChecked())
            f.channelMask |= 1u << k;
    if (useDate_->isChecked()) {
        const QDate a = fromDay_->date(), b = toDay_->date();
        const QTime s = fromTime_->time(), e = toTime_->time();
        // Clock readings, as the DVRs stamp their events: the PC's zone and
        // its clock changes play no part.
        f.windowStart = WallClockSeconds(a.year(), a.month(), a.day(), s.hour(), s.minute(), s.second());
        f.windowEnd = WallClockSeconds(b.year(), b.month(), b.day(), e.hour(), e.minute(), e.second());
    }
    return f;
}

void CEventSearchDlg::OnSearch()
{
    if (Searching())
        return;
    search_->setEnabled(false);
    // Both checks hold whether "Date" is set or not.
    const QDate fromDay = fromDay_->date(), toDay = toDay_->date();
    const QTime fromTime = fromTime_->time(), toTime = toTime_->time();
    const char* refusal = nullptr;
    if (toDay < fromDay)
        refusal = kDateRangeErrorDay;
    else if (toDay == fromDay && QTime(toTime.hour(), toTime.minute(), toTime.second()) <
                                     QTime(fromTime.hour(), fromTime.minute(), fromTime.second()))
        refusal = kDateRangeErrorTime;
    if (refusal) {
        platform::MessageBox(this, refusal);
        // The operator mends the dates and searches again.
        search_->setEnabled(true);
        return;
    }

    // Anything left of an earlier, stopped search is gone before this one
    // starts.
    StopThreads();
    results_ = 0;
    listState_ = -1;
    stopped_ = false;
    busy_ = false;
    started_ = finished_ = 0;
    scroll_ = true;
    for (auto& reader : readers_) {
        reader->free = true;
        reader->stop = false;
    }
    model_->Clear();
    assigned_ = 0;
    sortColumn_ = -1;
    for (int row = 0; row < RowCount(); ++row) {
        QTreeWidgetItem* item = dvrList_->topLevelItem(row);
        item->setText(kColumnStatus, QString());
        item->setText(kColumnReader, QString());
        const bool checked = RowChecked(row);
        rows_[static_cast<std::size_t>(row)] = Row{checked ? RowState::Waiting : RowState::Idle, -1};
        if (row < static_cast<int>(document_->deviceList.size()))
            document_->deviceList[static_cast<std::size_t>(row)]->SetPollingFlag(checked ? 1 : 0);
    }
    filter_ = FilterFromControls();
    WriteSummary();
    if (saveSettings_)
        saveSettings_();
    if (!RowsWaiting()) {
        EndIfFinished();
        return;
    }
    StartSearchThread();
}

void CEventSearchDlg::StartSearchThread()
{
    if (busy_ || stopped_)
        return;
    busy_ = true;
    searchThread_.Start([this](platform::WorkerThread& self) {
        // The dialog hands out one reader per call; each scans here in turn.
        for (;;) {
            const platform::LRESULT taken = platform::SendMessage(this, WM_SEARCH_ASSIGN, 0, 0, &self.StopFlag());
            if (taken <= 0 || taken > kReaders)
                break;
            readers_[static_cast<std::size_t>(taken - 1)]->SearchFile(&self.StopFlag());
        }
    });
}

bool CEventSearchDlg::RowsWaiting() const
{
    return std::any_of(rows_.begin(), rows_.end(), [](const Row& r) { return r.state == RowState::Waiting; });
}

platform::LRESULT CEventSearchDlg::AssignReader()
{
    if (stopped_)
        return 0;
    int row = -1;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].state == RowState::Waiting) {
            row = static_cast<int>(i);
            break;
        }
    int index = -1;
    if (row >= 0 && assigned_ < kReaders)
        for (int i = 0; i < kReaders; ++i)
            if (readers_[static_cast<std::size_t>(i)]->free) {
                index = i;
                break;
            }
    if (index < 0) {
        // Nothing more for now: timer 3000 comes back for DVRs that wait.
        busy_ = false;
        if (RowsWaiting())
            timers_.SetTimer(kTimerSearchAgain, kSearchAgainMs);
        else
            EndIfFinished();
        return 0;
    }
    CFileMgr& reader = *readers_[static_cast<std::size_t>(index)];
    reader.free = false;
    reader.request = row;
    reader.id = index;
    reader.dvrName = dvrList_->topLevelItem(row)->text(kColumnName);
    reader.directory = searchDirectory_;
    reader.filter = filter_;
    reader.window = this;
    dvrList_->topLevelItem(row)->setText(kColumnReader, QString::number(index));
    rows_[static_cast<std::size_t>(row)] = Row{RowState::Scanning, index};
    ++started_;
    ++assigned_;
    return index + 1;
}

void CEventSearchDlg::OnSearchDone(int row, platform::LPARAM result)
{
    if (stopped_ || row < 0 || row >= static_cast<int>(rows_.size()))
        return;
    Row& r = rows_[static_cast<std::size_t>(row)];
    if (result == kSearchNoData || result == kSearchBufferFull) {
        const bool full = result == kSearchBufferFull;
        SetStatus(row, full ? kStatusBufferFull : kStatusNoData);
        r.state = full ? RowState::BufferFull : RowState::NoData;
        ++finished_;
        --assigned_;
        DispatchPendingLists();
        return;
    }
    if (result < 0 || result >= kReaders)
        return;
    SetStatus(row, kSearchStatusReady);
    r.state = RowState::Ready;
    if (scroll_)
        dvrList_->scrollToItem(dvrList_->topLevelItem(row));
    if (listState_ != -1) {
        DispatchPendingLists();
        return;
    }
    StartListFill(static_cast<int>(result));
}

void CEventSearchDlg::DispatchPendingLists()
{
    // Ready rows are listed whether or not the operator has unchecked them
    // since: their readers would stay taken otherwise.
    for (std::size_t i = 0; i < rows_.size() && listState_ == 1 && !stopped_; ++i) {
        if (rows_[i].state != RowState::Ready)
            continue;
        StartListFill(rows_[i].reader);
        SetStatus(static_cast<int>(i), kSearchStatusDone);
        if (scroll_)
            dvrList_->scrollToItem(dvrList_->topLevelItem(static_cast<int>(i)));
    }
    if (stopped_)
        return;
    if (finished_ == started_ && !RowsWaiting())
        EndIfFinished();
    else
        timers_.SetTimer(kTimerDispatch, kDispatchMs);
}

void CEventSearchDlg::StartListFill(int reader)
{
    if (reader < 0 || reader >= kReaders)
        return;
    listState_ = 0;
    listReader_ = reader;
    const int row = readers_[static_cast<std::size_t>(reader)]->request;
    rows_[static_cast<std::size_t>(row)].state = RowState::Listing;
    listThread_.Start([this, reader, row](platform::WorkerThread& self) {
        const CFileMgr& source = *readers_[static_cast<std::size_t>(reader)];
        const int count = source.Count();
        for (int i = 0; i < count && !self.StopRequested();) {
            std::vector<SearchResultRow> batch;
            batch.reserve(static_cast<std::size_t>(std::min(kListBatch, count - i)));
            for (int end = std::min(count, i + kListBatch); i < end; ++i)
                batch.push_back({0, row, source.Record(i)});
            {
                std::lock_guard<std::mutex> lock(pendingLock_);
                if (pendingRows_.empty())
                    pendingRows_.swap(batch);
                else
                    pendingRows_.insert(pendingRows_.end(), batch.begin(), batch.end());
            }
            // Waits for the list to take them: the list never runs far
            // behind, and the window stays free between batches.
            platform::SendMessage(this, WM_SEARCH_ROWS, 0, 0, &self.StopFlag());
        }
        platform::SendMessage(this, WM_SEARCH_LIST_DONE, static_cast<platform::WPARAM>(reader), 0,
                              &self.StopFlag());
    });
}

void CEventSearchDlg::TakeRows()
{
    std::vector<SearchResultRow> rows;
    {
        std::lock_guard<std::mutex> lock(pendingLock_);
        rows.swap(pendingRows_);
    }
    if (stopped_ || rows.empty())
        return;
    model_->Append(rows);
    results_ = model_->rowCount();
    if (scroll_)
        resultList_->scrollToBottom();
    WriteSummary();
}

void CEventSearchDlg::OnListDone(int reader)
{
    if (stopped_ || reader < 0 || reader >= kReaders)
        return;
    CFileMgr& source = *readers_[static_cast<std::size_t>(reader)];
    const int row = source.request;
    SetStatus(row, kSearchStatusDone);
    rows_[static_cast<std::size_t>(row)].state = RowState::Done;
    source.free = true;
    --assigned_;
    ++finished_;
    listState_ = 1;
    DispatchPendingLists();
}

void CEventSearchDlg::EndIfFinished()
{
    if (stopped_ || finished_ != started_ || RowsWaiting() || busy_)
        return;
    timers_.KillTimer(kTimerDispatch);
    timers_.KillTimer(kTimerSearchAgain);
    search_->setEnabled(true);
}

bool CEventSearchDlg::Searching() const
{
    return !stopped_ && (busy_ || finished_ != started_ || RowsWaiting());
}

void CEventSearchDlg::OnTimer(unsigned id)
{
    timers_.KillTimer(id);
    if (stopped_)
        return;
    if (finished_ == started_ && !RowsWaiting()) {
        EndIfFinished();
        return;
    }
    if (id == kTimerDispatch)
        DispatchPendingLists();
    else if (id == kTimerSearchAgain)
        StartSearchThread();
}

void CEventSearchDlg::StopThreads()
{
    // The joins keep serving the threads' sent messages, which find the
    // search stopped and change nothing.
    searchThread_.StopAndJoin();
    listThread_.StopAndJoin();
    platform::ServeSentMessages();
    std::lock_guard<std::mutex> lock(pendingLock_);
    pendingRows_.clear();
}

void CEventSearchDlg::OnStop()
{
    stopped_ = true;
    busy_ = false;
    timers_.KillTimer(kTimerDispatch);
    timers_.KillTimer(kTimerSearchAgain);
    for (auto& reader : readers_) {
        reader->free = true;
        reader->stop = true;
    }
    StopThreads();
    search_->setEnabled(true);
}

bool CEventSearchDlg::SortResults(int column)
{
    if (Searching())
        return false;
    if (column != sortColumn_)
        sortAscending_ = false;
    sortColumn_ = column;
    sortAscending_ = !sortAscending_;
    model_->Sort(column, sortAscending_);
    return true;
}

void CEventSearchDlg::SetStatus(int row, const QString& text)
{
    if (QTreeWidgetItem* item = dvrList_->topLevelItem(row))
        item->setText(kColumnStatus, text);
}

void CEventSearchDlg::WriteSummary()
{
    summary_->setText(QStringLiteral("%1 Item").arg(results_));
}

QString CEventSearchDlg::SummaryText() const
{
    return summary_->text();
}

void CEventSearchDlg::timerEvent(QTimerEvent* event)
{
    if (!timers_.Dispatch(event->timerId()))
        QWidget::timerEvent(event);
}

bool CEventSearchDlg::event(QEvent* e)
{
    if (platform::HandleMessageEvent(e, this))
        return true;
    return QWidget::event(e);
}

platform::LRESULT CEventSearchDlg::OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    switch (message) {
    case WM_SEARCH_ASSIGN:
        return AssignReader();
    case WM_SEARCH_DONE:
        OnSearchDone(static_cast<int>(wParam), lParam);
        return 0;
    case WM_SEARCH_ROWS:
        TakeRows();
        return 0;
    case WM_SEARCH_LIST_DONE:
        OnListDone(static_cast<int>(wParam));
        return 0;
    default:
        return 0;
    }
}
