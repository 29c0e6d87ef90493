#include "CInPlaceEdit.h"

#include <QApplication>
#include <QClipboard>
#include "InPlaceKeys.h"

CInPlaceEdit::CInPlaceEdit(QWidget* parent) : QLineEdit(parent)
{
    setContextMenuPolicy(Qt::NoContextMenu); // paste goes through the filter only
    hide();
}

bool CInPlaceEdit::Accepts(QChar c, const QString& current, const QString& validCharacters, int maxLength)
{
    // Control characters and '.' pass as they always have; the page's store
    // check refuses a '.' where a number is due.
    const ushort code = c.unicode();
    if (code == 3 || code == 8 || code == 22 || code == 24 || c == '.')
        return true;
    if (!validCharacters.isEmpty() && !validCharacters.contains(c))
        return false;
    return maxLength <= 0 || current.size() < maxLength;
}

void CInPlaceEdit::Begin(int row, int column, const QString& text, const QString& validCharacters, int maxLength)
{
    row_ = row;
    column_ = column;
    escape_ = false;
    validCharacters_ = validCharacters;
    maxLength_ = maxLength;
    formerText_ = text;
    setText(text);
    show();
    selectAll();
    setFocus();
    active_ = true;
}

void CInPlaceEdit::Abandon()
{
    active_ = false;
    hide();
}

void CInPlaceEdit::Insert(const QString& text)
{
    for (QChar c : text) {
        QString current = this->text();
        if (hasSelectedText())
            current.remove(selectionStart(), selectedText().size());
        if (!Accepts(c, current, validCharacters_, maxLength_)) {
            QApplication::beep();
            return;
        }
        insert(QString(c));
    }
}

void CInPlaceEdit::keyPressEvent(QKeyEvent* event)
{
    if (IsEndOfEditKey(event, &escape_)) {
        End();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        Insert(QApplication::clipboard()->text());
        return;
    }
    const QString typed = event->text();
    if (typed.size() == 1 && typed[0].isPrint()) {
        Insert(typed);
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CInPlaceEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    End();
}

void CInPlaceEdit::End()
{
    if (!active_)
        return;
    active_ = false;
    const QString kept = escape_ ? formerText_ : text();
    hide();
    if (onEnd)
        onEnd(row_, column_, kept);
}
