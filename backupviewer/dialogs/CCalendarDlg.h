#pragma once
// The month calendar of the local and DVR searches: the days that hold
// recordings are red; the operator picks one (and perhaps a time of day).
#include <QDialog>
#include <QImage>
#include <QTime>

#include <array>
#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QTimeEdit;

namespace backupviewer {

class CCalendarDlg : public QDialog {
public:
    enum Mode { LocalSearch = 0, DvrSearch = 1 };
    enum ControlId { IDC_YEAR = 1011, IDC_MONTH = 1073, IDC_TIME_SEARCH = 1092, IDC_TIME = 1049 };
    using MonthTable = std::array<int32_t, 32>;

    // Local mode: the month's table for a file pattern. DVR mode: asks the
    // DVR for a month (the answer comes later through SetMonthTable);
    // false when nothing could be asked.
    std::function<bool(const QString& pattern, MonthTable* table)> queryLocalMonth;
    std::function<bool(int year, int month)> askDvrMonth;

    CCalendarDlg(int mode, QWidget* parent = nullptr);
    void SetBackground(const QImage& image) { background_ = image; }
    // Opens on the current month (call before exec).
    void Open(int year, int month);

    // DVR mode: the month answer the view received.
    void SetMonthTable(const MonthTable& table);
    void ClearMonthTable();

    int Year() const { return year_; }
    int Month() const { return month_; }
    int SelectedDay() const { return selectedDay_; }
    bool TimeSearch() const;
    QTime ChosenTime() const { return chosenTime_; }
    const QString& SearchPattern() const { return pattern_; }
    bool HasMonthTable() const { return hasTable_; }
    const MonthTable& Table() const { return table_; }
    const std::array<int, 42>& Grid() const { return grid_; }

    // Picks the cell at a client point; false outside the grid.
    bool PickAt(const QPoint& point);
    void ShowMonth(int year, int month);
    // OK: refuses with a message when nothing usable is picked.
    void OnOK();
    // The cell rectangle of grid index 0..41.
    static QRect CellRect(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void QueryMonth();

    int mode_;
    int year_ = 2000;
    int month_ = 1;
    int selectedIndex_ = -1;
    int selectedDay_ = 0;
    QTime chosenTime_;
    QString pattern_;
    MonthTable table_{};
    bool hasTable_ = false;
    std::array<int, 42> grid_{};
    QImage background_;
    QSpinBox* yearEdit_ = nullptr;
    QComboBox* monthCombo_ = nullptr;
    QCheckBox* timeSearch_ = nullptr;
    QTimeEdit* timeEdit_ = nullptr;
    bool filling_ = false;
};

} // namespace backupviewer
