#include "HeldEnterFilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {

// Watches the application rather than the dialog: a key goes first to the
// focused widget, and a button with the focus clicks itself on Return before
// the dialog sees the key.
class HeldEnterFilter : public QObject {
public:
    explicit HeldEnterFilter(QWidget* dialog) : QObject(dialog), dialog_(dialog)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        return key->isAutoRepeat() && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
               InDialog(static_cast<QWidget*>(watched));
    }

private:
    // The dialog's own windows count too: a repeat would dismiss the box or
    // accept the folder chooser that the press has just opened.
    bool InDialog(QWidget* widget) const
    {
        for (QWidget* window = widget->window(); window;
             window = window->parentWidget() ? window->parentWidget()->window() : nullptr)
            if (window == dialog_)
                return true;
        return false;
    }

    QWidget* dialog_;
};

} // namespace

void IgnoreHeldEnter(QWidget* dialog)
{
    new HeldEnterFilter(dialog);
}
