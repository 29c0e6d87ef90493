#include "CInPlaceCombo.h"

#include <QAbstractItemView>
#include "InPlaceKeys.h"

CInPlaceCombo::CInPlaceCombo(QWidget* parent) : QComboBox(parent)
{
    hide();
    connect(this, &QComboBox::activated, this, [this](int) { End(); });
}

void CInPlaceCombo::Begin(int row, int column, const QStringList& items, const QString& text)
{
    row_ = row;
    column_ = column;
    escape_ = false;
    formerText_ = text;
    active_ = false; // filling the list must not commit
    clear();
    addItems(items);
    setCurrentIndex(findText(text));
    show();
    setFocus();
    active_ = true;
}

void CInPlaceCombo::Abandon()
{
    active_ = false;
    if (view() && view()->isVisible())
        hidePopup();
    hide();
}

void CInPlaceCombo::keyPressEvent(QKeyEvent* event)
{
    if (IsEndOfEditKey(event, &escape_)) {
        End();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void CInPlaceCombo::focusOutEvent(QFocusEvent* event)
{
    QComboBox::focusOutEvent(event);
    // The popup list takes the focus while it is open; that is no end.
    if (view() && view()->isVisible())
        return;
    End();
}

void CInPlaceCombo::End()
{
    if (!active_)
        return;
    active_ = false;
    const QString kept = escape_ || currentIndex() < 0 ? formerText_ : currentText();
    hide();
    if (onEnd)
        onEnd(row_, column_, kept);
}
