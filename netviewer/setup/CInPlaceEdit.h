#pragma once
// The edit box the grid opens over a text cell: a character filter and a
// length limit, Escape restores the former text, losing the focus commits.
#include <QLineEdit>

#include <functional>

class CInPlaceEdit : public QLineEdit {
public:
    explicit CInPlaceEdit(QWidget* parent);

    // Opens over a cell with its text, all of it selected.
    void Begin(int row, int column, const QString& text, const QString& validCharacters, int maxLength);
    // Ends without telling anyone (the grid is being cleared).
    void Abandon();
    bool Active() const { return active_; }

    // Called once per edit with the text to keep (the former one after Escape).
    std::function<void(int row, int column, const QString& text)> onEnd;

    // True when `c` may be added to `current` under the filter.
    static bool Accepts(QChar c, const QString& current, const QString& validCharacters, int maxLength);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Insert(const QString& text);
    void End();

    int row_ = -1;
    int column_ = -1;
    bool escape_ = false;
    bool active_ = false;
    QString validCharacters_;
    QString formerText_;
    int maxLength_ = 0;
};
