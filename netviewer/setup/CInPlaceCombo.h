#pragma once
// The drop-down list the grid opens over a list cell; Escape keeps the
// former text, a chosen item or losing the focus commits.
#include <QComboBox>

#include <functional>

class CInPlaceCombo : public QComboBox {
public:
    explicit CInPlaceCombo(QWidget* parent);

    void Begin(int row, int column, const QStringList& items, const QString& text);
    void Abandon();
    bool Active() const { return active_; }

    std::function<void(int row, int column, const QString& text)> onEnd;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void End();

    int row_ = -1;
    int column_ = -1;
    bool escape_ = false;
    bool active_ = false;
    QString formerText_;
};
