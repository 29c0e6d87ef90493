#include "CCalendarDlg.h"

#include "CalendarGrid.h"
#include "backupviewer/BackupTexts.h"
#include "platform/MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>

namespace backupviewer {

namespace {

constexpr int kGridLeft = 14;
constexpr int kGridTop = 76;
constexpr int kCellWidth = 53;
constexpr int kCellHeight = 28;
constexpr int kMinYear = 1900;
constexpr int kMaxYear = 5000;

QColor FromColorRef(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

} // namespace

CCalendarDlg::CCalendarDlg(int mode, QWidget* parent) : QDialog(parent), mode_(mode)
{
    setObjectName("302");
    setWindowTitle(mode == LocalSearch ? "Local Search Dialog" : "DVR Search Dialog");
    setFixedSize(400, 330);
    yearEdit_ = new QSpinBox(this);
    yearEdit_->setObjectName(QString::number(IDC_YEAR));
    yearEdit_->setRange(kMinYear, kMaxYear);
    yearEdit_->setGeometry(14, 14, 80, 24);
    monthCombo_ = new QComboBox(this);
    monthCombo_->setObjectName(QString::number(IDC_MONTH));
    monthCombo_->addItems({"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"});
    monthCombo_->setGeometry(100, 14, 70, 24);
    timeSearch_ = new QCheckBox("Time Search", this);
    timeSearch_->setObjectName(QString::number(IDC_TIME_SEARCH));
    timeSearch_->setGeometry(180, 14, 100, 24);
    timeEdit_ = new QTimeEdit(this);
    timeEdit_->setObjectName(QString::number(IDC_TIME));
    timeEdit_->setDisplayFormat("HH:mm:ss");
    timeEdit_->setGeometry(284, 14, 100, 24);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("1");
    ok->setGeometry(220, 292, 80, 26);
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("2");
    cancel->setGeometry(306, 292, 80, 26);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(yearEdit_, qOverload<int>(&QSpinBox::valueChanged), this, [this](int year) {
        if (!filling_)
            ShowMonth(year, month_);
    });
    connect(monthCombo_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (!filling_)
            ShowMonth(year_, index + 1);
    });
}

void CCalendarDlg::Open(int year, int month)
{
    filling_ = true;
    year_ = std::clamp(year, kMinYear, kMaxYear);
    month_ = std::clamp(month, 1, 12);
    yearEdit_->setValue(year_);
    monthCombo_->setCurrentIndex(month_ - 1);
    filling_ = false;
    grid_ = MonthGrid(year_, month_);
    if (mode_ == LocalSearch)
        QueryMonth();
}

bool CCalendarDlg::TimeSearch() const { return timeSearch_->isChecked(); }

void CCalendarDlg::SetMonthTable(const MonthTable& table)
{
    table_ = table;
    hasTable_ = true;
    update();
}

void CCalendarDlg::ClearMonthTable()
{
    for (int d = 1; d <= 31; ++d)
        table_[d] = 0;
    update();
}

void CCalendarDlg::QueryMonth()
{
    if (mode_ == LocalSearch) {
        pattern_ = QString::asprintf("*.%04d%02d*.*.mp4", year_, month_);
        MonthTable table{};
        if (queryLocalMonth && queryLocalMonth(pattern_, &table))
            SetMonthTable(table);
    } else if (askDvrMonth) {
        askDvrMonth(year_, month_);
    }
}

void CCalendarDlg::ShowMonth(int year, int month)
{
    ClearMonthTable();
    year_ = std::clamp(year, kMinYear, kMaxYear);
    month_ = std::clamp(month, 1, 12);
    filling_ = true;
    yearEdit_->setValue(year_);
    monthCombo_->setCurrentIndex(month_ - 1);
    filling_ = false;
    QueryMonth();
    grid_ = MonthGrid(year_, month_);
    selectedIndex_ = -1;
    update();
}

QRect CCalendarDlg::CellRect(int index)
{
    const int r = index / 7, c = index % 7;
    return QRect(QPoint(kGridLeft + kCellWidth * c, kGridTop + kCellHeight * r),
                 QPoint(kGridLeft + 50 + kCellWidth * c, kGridTop + 26 + kCellHeight * r));
}

bool CCalendarDlg::PickAt(const QPoint& point)
{
    const int x = point.x() - kGridLeft, y = point.y() - kGridTop;
    if (x < 0 || y < 0 || x >= 7 * kCellWidth || y >= 6 * kCellHeight)
        return false;
    selectedIndex_ = (y / kCellHeight) * 7 + x / kCellWidth;
    update();
    return true;
}

void CCalendarDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        PickAt(event->position().toPoint());
}

void CCalendarDlg::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && PickAt(event->position().toPoint()))
        OnOK();
}

void CCalendarDlg::OnOK()
{
    const int day = selectedIndex_ >= 0 ? grid_[selectedIndex_] : 0;
    if (selectedIndex_ < 0 || day == 0) {
        platform::MessageBox(this, kSelectDate);
        return;
    }
    if (!hasTable_ || table_[day] == 0) {
        platform::MessageBox(this, kNoRecordedData);
        return;
    }
    selectedDay_ = day;
    if (TimeSearch())
        chosenTime_ = timeEdit_->time();
    if (mode_ == LocalSearch)
        pattern_ = QString::asprintf("*.%04d%02d%02d.*.mp4", year_, month_, day);
    accept();
}

void CCalendarDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!background_.isNull())
        p.drawImage(10, 55, background_);
    QFont font("Tahoma");
    font.setPixelSize(21);
    font.setBold(true);
    font.setItalic(true);
    p.setFont(font);
    for (int i = 0; i < 42; ++i) {
        const int column = i % 7;
        const int day = grid_[i];
        const bool picked = i == selectedIndex_;
        uint32_t back = column == 0 ? 0xCCCCFF : column == 6 ? 0xFFCB99 : 0xFCEFCC;
        uint32_t text = 0x54280A;
        if (picked) {
            back = 0;
            text = 0xE8731E;
        }
        if (day > 0 && hasTable_ && table_[day] != 0)
            back = 0xDE;
        const QRect cell = CellRect(i);
        p.setPen(Qt::black);
        p.setBrush(FromColorRef(back));
        p.drawRect(cell.adjusted(0, 0, -1, -1));
        if (day > 0) {
            p.setPen(FromColorRef(text));
            p.drawText(cell.left() + 11, cell.top() + 3 + p.fontMetrics().ascent(), QString::number(day));
        }
    }
}

} // namespace backupviewer
