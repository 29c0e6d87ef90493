#include "CConfigDlg.h"

#include "platform/MessageBox.h"
#include "viewercore/dvyrdax/CDVyrdax.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/FolderChooser.h"
#include "viewercore/widgets/HeldEnterFilter.h"
#include "viewercore/widgets/SkinFiles.h"
#include "viewercore/widgets/SkinResources.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>

namespace {

constexpr long kCmdSetupUpload = 19;
const char* const kLocalRoot = "Local PC Configuration";
const char* const kRecordSetup = "Record Setup";

// Dialog units to pixels at the dialog's font.
QRect Dlu(int x, int y, int w, int h)
{
    return QRect(x * 3 / 2, y * 13 / 8, w * 3 / 2, h * 13 / 8);
}

template <typename W>
W* Make(QWidget* parent, int id, QRect rect)
{
    W* w = new W(parent);
    w->setObjectName(QString::number(id));
    w->setGeometry(rect);
    return w;
}

const QStringList kOnOff{"On", "Off"};
const QStringList kDiskSpace{"700 M", "1 G", "2 G", "3 G", "4 G", "5 G"};
const QStringList kAlarmTimes{"10 Sec", "20 Sec", "30 Sec", "40 Sec", "50 Sec",
                              "1 Min",  "2 Min",  "3 Min",  "4 Min",  "5 Min"};
const QStringList kForcedTimes{"Full Time", "10 Min", "20 Min", "30 Min", "40 Min", "50 Min"};
const QStringList kFileFormats{"MPEG4", "AVI"};

QString ListText(const QStringList& list, int value)
{
    return value >= 0 && value < list.size() ? list[value] : QString();
}
int16_t ListIndex(const QStringList& list, const QString& text)
{
    return static_cast<int16_t>(std::max<qsizetype>(0, list.indexOf(text)));
}
QString OnOffText(int value) { return value != 0 ? "On" : "Off"; }
int16_t OnOffValue(const QString& text) { return text == "On" ? 1 : 0; }

struct GeneralRow {
    const char* label;
    int16_t CGroup::*field;
    const QStringList* list; // null: On/Off
};
const GeneralRow kGeneralRows[] = {
    {"Beep", &CGroup::beep, nullptr},
    {"Disk Space to Remain", &CGroup::diskSpaceToRemain, &kDiskSpace},
    {"Motion Recording Time", &CGroup::motionRecordingTime, &kAlarmTimes},
    {"Sensor Recording Time", &CGroup::sensorRecordingTime, &kAlarmTimes},
    {"Forced Recording Time", &CGroup::forcedRecordingTime, &kForcedTimes},
    {"Recording File Format", &CGroup::recordingFileFormat, &kFileFormats},
    {"Auto Connecting", &CGroup::autoConnecting, nullptr},
};

} // namespace

CConfigDlg::CConfigDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::number(IDD));
    setWindowTitle("Dialog");
    QFont font("Tahoma");
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(Dlu(0, 0, 632, 260).size());

    tab_ = Make<QTabBar>(this, IDC_TAB, Dlu(7, 6, 122, 14));
    QWidget* tabFrame = new QGroupBox(this);
    tabFrame->setGeometry(Dlu(7, 18, 122, 215));
    dvrTree_ = Make<QTreeWidget>(this, IDC_DVR_TREE, Dlu(10, 20, 116, 209));
    localTree_ = Make<QTreeWidget>(this, IDC_LOCAL_TREE, Dlu(10, 20, 116, 209));
    for (QTreeWidget* tree : {dvrTree_, localTree_}) {
        tree->setHeaderHidden(true);
        tree->setColumnCount(1);
    }
    frame_ = new QGroupBox(this);
    frame_->setGeometry(Dlu(129, 14, 496, 218));
    grid_ = Make<CComboListCtrl>(this, IDC_GRID, Dlu(129, 18, 495, 214));
    hint_ = Make<QLabel>(this, IDC_HINT, Dlu(136, 6, 483, 8));

    const struct {
        int id;
        const char* caption;
        int x, w, bitmap, brush;
    } brushes[] = {{IDC_BRUSH_CLEAR, "Clear   ", 146, 51, kBitmapBrushClear, 0},
                   {IDC_BRUSH_ALWAYS, "Always     ", 201, 56, kBitmapBrushAlways, 1},
                   {IDC_BRUSH_MOTION, "Motion   ", 263, 52, kBitmapBrushMotion, 2},
                   {IDC_BRUSH_SENSOR, "Sensor   ", 321, 53, kBitmapBrushSensor, 3},
                   {IDC_BRUSH_BOTH, "Motion+Sensor   ", 381, 79, kBitmapBrushMotionSensor, 4}};
    for (const auto& b : brushes) {
        auto* box = new CButtonST(this, b.id);
        box->setObjectName(QString::number(b.id));
        box->setGeometry(Dlu(b.x, 27, b.w, 10));
        box->setText(b.caption);
        box->SetCheckBoxMode();
        box->SetBitmaps(QImage(SkinResourcePath(b.bitmap)));
        const QColor background(231, 231, 231);
        for (auto index : {CButtonST::BackgroundIn, CButtonST::BackgroundOut, CButtonST::BackgroundFocus})
            box->SetColor(index, background, false);
        box->setProperty("brush", b.brush);
        connect(box, &QPushButton::clicked, this, [this, id = b.id] { ChooseBrush(id); });
        brushes_[b.id] = box;
    }
    brushes_[IDC_BRUSH_CLEAR]->SetCheck(true);
    channelCombo_ = Make<QComboBox>(this, IDC_SCHEDULE_CHANNEL, Dlu(459, 206, 69, 14));
    connect(channelCombo_, &QComboBox::activated, this, [this](int index) {
        painter_.SetChannel(index);
        UpdateScheduleHint();
        update();
    });
    applyAll_ = Make<QPushButton>(this, IDC_APPLY_ALL, Dlu(535, 205, 58, 14));
    applyAll_->setText("Apply to All");
    connect(applyAll_, &QPushButton::clicked, this, [this] { ApplyToAll(); });

    recordDirEdit_ = Make<QLineEdit>(this, IDC_RECORD_DIR, Dlu(152, 50, 245, 14));
    captureDirEdit_ = Make<QLineEdit>(this, IDC_CAPTURE_DIR, Dlu(152, 79, 245, 14));
    recordDirLabel_ = Make<QLabel>(this, IDC_RECORD_DIR_LABEL, Dlu(153, 40, 64, 8));
    recordDirLabel_->setText("Recording Directory");
    recordDirLabel_->adjustSize();
    captureDirLabel_ = Make<QLabel>(this, IDC_CAPTURE_DIR_LABEL, Dlu(152, 68, 58, 8));
    captureDirLabel_->setText("Capture Directory");
    captureDirLabel_->adjustSize();
    browseRecord_ = Make<QPushButton>(this, IDC_BROWSE_RECORD, Dlu(399, 49, 15, 14));
    browseCapture_ = Make<QPushButton>(this, IDC_BROWSE_CAPTURE, Dlu(399, 79, 15, 14));
    for (QPushButton* b : {browseRecord_, browseCapture_})
        b->setText("...");
    connect(browseRecord_, &QPushButton::clicked, this, [this] { ChooseFolder(true); });
    connect(browseCapture_, &QPushButton::clicked, this, [this] { ChooseFolder(false); });

    QPushButton* ok = Make<QPushButton>(this, 1, Dlu(260, 238, 72, 14));
    ok->setText("OK");
    QPushButton* cancel = Make<QPushButton>(this, 2, Dlu(349, 238, 72, 14));
    cancel->setText("Cancel");
    connect(ok, &QPushButton::clicked, this, &CConfigDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CConfigDlg::reject);

    grid_->fillChoices = [this](int row, int column) { return Choices(row, column); };
    grid_->onEndEdit = [this](int row, int column, const QString& text) { OnEndEdit(row, column, text); };
    connect(dvrTree_, &QTreeWidget::currentItemChanged, this, &CConfigDlg::OnDvrTreeSelection);
    connect(localTree_, &QTreeWidget::currentItemChanged, this, &CConfigDlg::OnLocalTreeSelection);

    dvrSchedule_.assign(setup::kLargeChannels, setup::ChannelSchedule{});
    localSchedule_.assign(CGroup::kCellCount, setup::ChannelSchedule{});
    // Return that ends an in-place edit, held, would reach the default button
    // with its repeats and upload the setup; an upload refused with a box
    // would be tried again with each repeat after the one that closes it.
    IgnoreHeldEnter(this);
}

CConfigDlg::~CConfigDlg() = default;

setup::SetupContext CConfigDlg::Context() const
{
    setup::SetupContext c;
    c.layout = layout_;
    c.dvrType = dvrType_;
    c.lookupHost = lookupHost_;
    return c;
}

void CConfigDlg::Begin(const Opening& opening)
{
    initialised_ = false;
    pageShown_ = false;
    mode_ = opening.mode;
    dvrType_ = opening.dvrType == 4 ? 5 : opening.dvrType;
    control_ = opening.control;
    channel_ = opening.channel;
    cell_ = opening.cell;
    lookupHost_ = opening.lookupHost;
    record_.clear();
    page_.reset();
    shownTexts_.clear();
    localShownTexts_.clear();
    // A brush chosen in the other mode, or at the last opening, is not this
    // opening's: local cells hold only 1 or 0.
    ChooseBrush(IDC_BRUSH_CLEAR);
    parentName_.clear();
    pageName_.clear();
    groupCopy_ = opening.group ? CGroup::CopyFrom(*opening.group, true) : std::make_unique<CGroup>();
    recordingDirectory_ = opening.recordingDirectory;
    captureDirectory_ = opening.captureDirectory;
    recordDirEdit_->setText(recordingDirectory_);
    captureDirEdit_->setText(captureDirectory_);
    scheduleBitmap_ = QImage(QDir(kSkinDirectory).filePath("schedule.bmp"));
    while (tab_->count() > 0)
        tab_->removeTab(0);
    grid_->setColumnCount(2);
    grid_->setHorizontalHeaderLabels({"Items", "Value"});
    grid_->setColumnWidth(0, 100);
    grid_->setColumnWidth(1, 100);
    grid_->DeleteAllItems();
    HideSchedule();
    ShowDirectoryControls(false);

    if (mode_ == ModeDvr) {
        tab_->addTab("DVR Config");
        dvrTree_->show();
        localTree_->hide();
        hint_->show();
        grid_->show();
        BuildDvrTree();
    } else {
        tab_->addTab("Local Config");
        dvrTree_->hide();
        hint_->hide();
        for (int cell = 0; cell < CGroup::kCellCount; ++cell)
            for (int r = 0; r < CGroup::kDayRows; ++r)
                localSchedule_[cell][r] = groupCopy_->schedule[cell][r];
        localTree_->show();
        grid_->show();
        BuildLocalTree();
    }
    initialised_ = true;
}

// ---- DVR mode ---------------------------------------------------------------

void CConfigDlg::BuildDvrTree()
{
    QSignalBlocker block(dvrTree_);
    dvrTree_->clear();
    auto* root = new QTreeWidgetItem(dvrTree_, {setup::kDvrRootName});
    std::map<QString, QTreeWidgetItem*> parents;
    QTreeWidgetItem* first = nullptr;
    for (const auto& group : setup::DvrPageTree()) {
        QTreeWidgetItem* parent = parents.count(group.parent) ? parents[group.parent]
                                                              : new QTreeWidgetItem(root, {group.parent});
        parents[group.parent] = parent;
        for (const QString& page : group.pages) {
            auto* item = new QTreeWidgetItem(parent, {page});
            parents[page] = item;
            if (!first)
                first = item;
        }
    }
    dvrTree_->expandAll();
    dvrTree_->setCurrentItem(first); // "Overwrite / Warning" under "Device"
    parentName_ = first->parent()->text(0);
    pageName_ = first->text(0);
    ShowPage();
}

void CConfigDlg::OnSetupData(int dvrType, const void* data, std::size_t size)
{
    const auto layout = setup::SetupContext::LayoutOfSize(size);
    // One record per opening: a later reply must not replace what the
    // operator is editing.
    if (!data || !layout || !record_.empty())
        return;
    dvrType_ = dvrType == 4 ? 5 : dvrType;
    layout_ = *layout;
    // Our own copy: a later reply cannot change what the operator edits.
    const auto* bytes = static_cast<const uint8_t*>(data);
    record_.assign(bytes, bytes + size);
    const int channels = Context().Channels();
    for (int ch = 0; ch < channels; ++ch)
        dvrSchedule_[ch] = setup::ReadSchedule(record_, layout_, ch);
    channelCombo_->clear();
    for (int ch = 1; ch <= channels; ++ch)
        channelCombo_->addItem(QStringLiteral("Camera %1").arg(ch));
    ShowPage();
}

void CConfigDlg::OnDvrTreeSelection(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    if (!current)
        return;
    if (pageShown_ && !StorePage()) {
        // Refused: the operator stays on the page being left.
        QSignalBlocker block(dvrTree_);
        dvrTree_->setCurrentItem(previous);
        return;
    }
    parentName_ = current->parent() ? current->parent()->text(0) : QString();
    pageName_ = current->text(0);
    ShowPage();
}

bool CConfigDlg::SelectPage(const QString& parent, const QString& page)
{
    QTreeWidget* tree = mode_ == ModeDvr ? dvrTree_ : localTree_;
    const auto found = tree->findItems(page, Qt::MatchExactly | Qt::MatchRecursive);
    for (QTreeWidgetItem* item : found)
        if ((item->parent() ? item->parent()->text(0) : QString()) == parent) {
            tree->setCurrentItem(item);
            return tree->currentItem() == item;
        }
    return false;
}

void CConfigDlg::ShowPage()
{
    if (record_.empty())
        return;
    const setup::SetupContext context = Context();
    HideSchedule();
    grid_->show();
    grid_->DeleteAllItems();
    page_ = setup::BuildPage(parentName_, pageName_, context, record_);
    shownTexts_.clear();
    hint_->clear();
    hint_->setStyleSheet(pageName_ == "Record Channel Enable" ? "color: rgb(255, 0, 0);" : QString());
    if (!page_) {
        grid_->setColumnCount(1);
        pageShown_ = true;
        return;
    }
    if (page_->schedule) {
        const int channels = context.Channels();
        for (int ch = 0; ch < channels; ++ch)
            dvrSchedule_[ch] = setup::ReadSchedule(record_, layout_, ch);
        if (painter_.Channel() < 0 || painter_.Channel() >= channels)
            painter_.SetChannel(0);
        ShowSchedule(true);
        pageShown_ = true;
        return;
    }
    QStringList headers{"Items"};
    headers << page_->columns;
    grid_->setColumnCount(headers.size());
    grid_->setHorizontalHeaderLabels(headers);
    for (int c = 0; c < headers.size(); ++c)
        grid_->setColumnWidth(c, 100);
    QStringList labels;
    for (const auto& row : page_->rows)
        labels << row.label;
    grid_->SetRows(labels);
    grid_->SetComboColumns(page_->comboColumns);
    grid_->SetReadOnlyColumns(page_->readOnlyColumns);
    grid_->SetEditFilter(page_->validCharacters, page_->maxLength);
    grid_->SetLockedRows(page_->lockedRows);
    for (int row : page_->shadedRows)
        grid_->SetRowShaded(row, true);
    shownTexts_ = setup::ShowPage(*page_, record_, context);
    for (std::size_t r = 0; r < shownTexts_.size(); ++r)
        for (std::size_t c = 0; c < shownTexts_[r].size(); ++c)
            grid_->SetCellText(static_cast<int>(r), static_cast<int>(c) + 1, shownTexts_[r][c]);
    UpdateHints();
    pageShown_ = true;
}

setup::PageTexts CConfigDlg::GridTexts() const
{
    setup::PageTexts texts;
    for (int r = 0; r < grid_->rowCount(); ++r) {
        std::vector<QString> row;
        for (int c = 1; c < grid_->columnCount(); ++c)
            row.push_back(grid_->CellText(r, c));
        texts.push_back(row);
    }
    return texts;
}

bool CConfigDlg::StorePage()
{
    if (mode_ != ModeDvr || record_.empty() || !page_)
        return true;
    if (page_->schedule) {
        const int channels = Context().Channels();
        for (int ch = 0; ch < channels; ++ch)
            setup::WriteSchedule(record_, layout_, ch, dvrSchedule_[ch]);
        return true;
    }
    const QString refusal = setup::StorePage(*page_, shownTexts_, GridTexts(), record_, Context());
    if (!refusal.isEmpty()) {
        platform::MessageBox(this, refusal.toStdString());
        return false;
    }
    shownTexts_ = GridTexts();
    return true;
}

QStringList CConfigDlg::Choices(int row, int column) const
{
    if (mode_ == ModeLocal) {
        if (pageName_ == "General Setup" && row >= 0 && row < static_cast<int>(std::size(kGeneralRows)))
            return kGeneralRows[row].list ? *kGeneralRows[row].list : kOnOff;
        return kOnOff;
    }
    if (!page_ || row < 0 || row >= static_cast<int>(page_->rows.size()) || column < 1)
        return {};
    const auto& cells = page_->rows[row].cells;
    if (column - 1 >= static_cast<int>(cells.size()))
        return {};
    return setup::FieldChoices(cells[column - 1]);
}

void CConfigDlg::OnEndEdit(int row, int column, const QString& text)
{
    if (text.isEmpty())
        return;
    grid_->SetCellText(row, column, text);
    if (row == 0 && grid_->CellText(0, 0) == "ALL CH")
        for (int r = 1; r < grid_->rowCount(); ++r)
            grid_->SetCellText(r, column, text);
    UpdateHints();
}

void CConfigDlg::UpdateHints()
{
    if (mode_ != ModeDvr || record_.empty())
        return;
    const int video = setup::VideoSignalType(record_, layout_);
    if (pageName_ == "Record Quality")
        hint_->setText(setup::FrameRateHint(setup::AvailableFrameRate(GridTexts(), video, Context().EffectiveN()),
                                            video));
    else if (pageName_ == "Record Channel Enable")
        hint_->setText(setup::ScheduleHint(GridTexts(), dvrSchedule_));
}

// ---- schedule painter -------------------------------------------------------

void CConfigDlg::ShowSchedule(bool dvr)
{
    scheduleMode_ = dvr ? 1 : 2;
    painter_.SetGrids(dvr ? &dvrSchedule_ : &localSchedule_);
    grid_->hide();
    frame_->hide();
    for (auto& [id, box] : brushes_)
        box->setVisible(dvr || id == IDC_BRUSH_ALWAYS || id == IDC_BRUSH_CLEAR);
    channelCombo_->show();
    applyAll_->show();
    if (!dvr) {
        channelCombo_->clear();
        for (int k = 1; k <= CGroup::kCellCount; ++k)
            channelCombo_->addItem(QString::asprintf("Camera %.2d", k));
        if (painter_.Channel() < 0 || painter_.Channel() >= CGroup::kCellCount)
            painter_.SetChannel(0);
    }
    channelCombo_->setCurrentIndex(painter_.Channel());
    if (!dvr && painter_.Brush() > 1)
        ChooseBrush(IDC_BRUSH_CLEAR);
    UpdateScheduleHint();
    update();
}

void CConfigDlg::UpdateScheduleHint()
{
    if (scheduleMode_ == 0)
        return;
    const bool local = scheduleMode_ == 2;
    const bool unknown = painter_.ChannelHasUnknownValues(local);
    hint_->setText(unknown ? kUnknownScheduleValues : "");
    // Local mode has no hint line of its own; it shows only for this.
    if (local)
        hint_->setVisible(unknown);
}

void CConfigDlg::HideSchedule()
{
    if (scheduleMode_ == 2)
        hint_->hide();
    scheduleMode_ = 0;
    for (auto& [id, box] : brushes_)
        box->hide();
    channelCombo_->hide();
    applyAll_->hide();
    frame_->show();
    update();
}

void CConfigDlg::ChooseBrush(int id)
{
    for (auto& [other, box] : brushes_)
        box->SetCheck(other == id);
    painter_.SetBrush(brushes_[id]->property("brush").toInt());
}

void CConfigDlg::ApplyToAll()
{
    painter_.ApplyToAll(scheduleMode_ == 1 ? Context().Channels() : CGroup::kCellCount);
    UpdateScheduleHint();
    update();
}

void CConfigDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    if (scheduleMode_ == 0)
        return;
    QPainter painter(this);
    painter_.Draw(painter, scheduleBitmap_, scheduleMode_ == 2);
}

void CConfigDlg::mousePressEvent(QMouseEvent* event)
{
    if (scheduleMode_ != 0)
        painter_.MouseDown(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void CConfigDlg::mouseMoveEvent(QMouseEvent* event)
{
    if (scheduleMode_ != 0 && painter_.MouseMove(event->position().toPoint())) {
        UpdateScheduleHint();
        update();
    }
    QDialog::mouseMoveEvent(event);
}

void CConfigDlg::mouseReleaseEvent(QMouseEvent* event)
{
    if (scheduleMode_ != 0 && painter_.MouseUp(event->position().toPoint())) {
        UpdateScheduleHint();
        update();
    }
    QDialog::mouseReleaseEvent(event);
}

// ---- Local mode -------------------------------------------------------------

void CConfigDlg::BuildLocalTree()
{
    QSignalBlocker block(localTree_);
    localTree_->clear();
    auto* root = new QTreeWidgetItem(localTree_, {kLocalRoot});
    auto* general = new QTreeWidgetItem(root, {"General Setup"});
    new QTreeWidgetItem(root, {"Directory"});
    auto* record = new QTreeWidgetItem(root, {kRecordSetup});
    new QTreeWidgetItem(record, {"Record Enable"});
    new QTreeWidgetItem(record, {"Schedule Setup"});
    localTree_->expandAll();
    localTree_->setCurrentItem(general);
    ShowLocalPage(kLocalRoot, "General Setup");
}

void CConfigDlg::OnLocalTreeSelection(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    if (!current)
        return;
    CollectLocalPage();
    ShowLocalPage(current->parent() ? current->parent()->text(0) : QString(), current->text(0));
}

void CConfigDlg::ShowDirectoryControls(bool visible)
{
    for (QWidget* w : std::initializer_list<QWidget*>{recordDirEdit_, captureDirEdit_, recordDirLabel_,
                                                      captureDirLabel_, browseRecord_, browseCapture_})
        w->setVisible(visible);
}

void CConfigDlg::ShowLocalPage(const QString& parent, const QString& page)
{
    parentName_ = parent;
    pageName_ = page;
    HideSchedule();
    ShowDirectoryControls(false);
    grid_->show();
    grid_->DeleteAllItems();
    grid_->SetComboColumns({1, 2, 3});
    grid_->SetReadOnlyColumns({});
    grid_->SetEditFilter(QString(), 0);
    if (page == "General Setup") {
        grid_->setColumnCount(2);
        grid_->setHorizontalHeaderLabels({"Items", "Value"});
        QStringList labels;
        for (const auto& row : kGeneralRows)
            labels << row.label;
        grid_->SetRows(labels);
        int r = 0;
        for (const auto& row : kGeneralRows) {
            const int16_t value = (*groupCopy_).*row.field;
            grid_->SetCellText(r++, 1, row.list ? ListText(*row.list, value) : OnOffText(value));
        }
    } else if (page == "Directory") {
        grid_->hide();
        ShowDirectoryControls(true);
    } else if (page == "Record Enable") {
        grid_->setColumnCount(4);
        grid_->setHorizontalHeaderLabels({"Items", "Motion Record", "Sensor Record", "Shedule Record"});
        QStringList labels{"ALL CH"};
        for (int k = 1; k <= CGroup::kCellCount; ++k)
            labels << QString::asprintf("CH %.2d", k);
        grid_->SetRows(labels);
        for (int k = 0; k < CGroup::kCellCount; ++k) {
            grid_->SetCellText(k + 1, 1, OnOffText(groupCopy_->motionRecord[k]));
            grid_->SetCellText(k + 1, 2, OnOffText(groupCopy_->sensorRecord[k]));
            grid_->SetCellText(k + 1, 3, OnOffText(groupCopy_->scheduleRecord[k]));
        }
    } else if (page == "Schedule Setup") {
        ShowSchedule(false);
    } else {
        grid_->setColumnCount(1);
    }
    for (int c = 0; c < grid_->columnCount(); ++c)
        grid_->setColumnWidth(c, 100);
    localShownTexts_ = GridTexts();
}

void CConfigDlg::CollectLocalPage()
{
    if (!initialised_ || mode_ != ModeLocal || !groupCopy_)
        return;
    // Only what the operator changed is taken: a value the lists do not know
    // (shown as an empty cell, or as "On" for any non-zero flag) keeps its value.
    const setup::PageTexts edited = GridTexts();
    auto changed = [&](int row, int column) {
        return row < static_cast<int>(edited.size()) && row < static_cast<int>(localShownTexts_.size()) &&
               column < static_cast<int>(edited[row].size()) &&
               column < static_cast<int>(localShownTexts_[row].size()) &&
               edited[row][column] != localShownTexts_[row][column];
    };
    if (pageName_ == "General Setup" && grid_->rowCount() == static_cast<int>(std::size(kGeneralRows))) {
        int r = 0;
        for (const auto& row : kGeneralRows) {
            if (changed(r, 0))
                (*groupCopy_).*row.field = row.list ? ListIndex(*row.list, edited[r][0]) : OnOffValue(edited[r][0]);
            ++r;
        }
    } else if (pageName_ == "Record Enable" && grid_->rowCount() == CGroup::kCellCount + 1) {
        std::array<int16_t, CGroup::kCellCount>* flags[] = {&groupCopy_->motionRecord, &groupCopy_->sensorRecord,
                                                           &groupCopy_->scheduleRecord};
        for (int k = 0; k < CGroup::kCellCount; ++k)
            for (int c = 0; c < 3; ++c)
                if (changed(k + 1, c))
                    (*flags[c])[k] = OnOffValue(edited[k + 1][c]);
    } else if (pageName_ == "Schedule Setup") {
        for (int cell = 0; cell < CGroup::kCellCount; ++cell)
            for (int r = 0; r < CGroup::kDayRows; ++r)
                groupCopy_->schedule[cell][r] = localSchedule_[cell][r];
    }
}

bool CConfigDlg::DirectoriesValid()
{
    // An empty or relative directory would put the day folders under "/" or
    // wherever the program happens to run, and leave the disk monitor blind.
    auto full = [](const QString& text) { return text.startsWith('/'); };
    const char* refusal = !full(recordDirEdit_->text())    ? kRecordingDirectoryNotFull
                          : !full(captureDirEdit_->text()) ? kCaptureDirectoryNotFull
                                                           : nullptr;
    if (!refusal)
        return true;
    if (pageName_ != "Directory")
        SelectPage(kLocalRoot, "Directory");
    platform::MessageBox(this, refusal);
    (refusal == kRecordingDirectoryNotFull ? recordDirEdit_ : captureDirEdit_)->setFocus();
    return false;
}

void CConfigDlg::ChooseFolder(bool recording)
{
    QLineEdit* edit = recording ? recordDirEdit_ : captureDirEdit_;
    QString chosen;
    if (BrowseForFolder(this, edit->text(), &chosen))
        edit->setText(chosen);
}

// ---- closing ------------------------------------------------------------------

void CConfigDlg::accept()
{
    if (mode_ == ModeLocal) {
        if (!DirectoriesValid())
            return;
        recordingDirectory_ = recordDirEdit_->text();
        captureDirectory_ = captureDirEdit_->text();
        CollectLocalPage();
        if (applyLocal && groupCopy_)
            applyLocal(*groupCopy_, recordingDirectory_, captureDirectory_);
    } else if (!record_.empty()) {
        if (!StorePage())
            return;
        if (pageShown_ && control_) {
            // The edited copy goes into the control's buffer just before the
            // upload, so no reply that came meanwhile is mixed into it. A
            // link that is down would lose the edits without a word: the
            // operator is told and keeps them.
            if (!control_->isConnect(channel_) || !control_->WriteDVRData(record_.data(), record_.size())) {
                platform::MessageBox(this, kSetupNotSent);
                return;
            }
            control_->CmdToDVR(kCmdSetupUpload, 0, channel_);
            // The control takes a link whose send failed down at once: not
            // connected any more means the record did not go out.
            if (!control_->isConnect(channel_)) {
                platform::MessageBox(this, kSetupNotSent);
                return;
            }
        }
    }
    if (saveSettings)
        saveSettings();
    groupCopy_.reset();
    QDialog::accept();
}

void CConfigDlg::reject()
{
    groupCopy_.reset();
    QDialog::reject();
}
