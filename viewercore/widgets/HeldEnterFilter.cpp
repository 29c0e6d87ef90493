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
        if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) || !watched->isWidgetType())
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || !InDialog(static_cast<QWidget*>(watched)))
            return false;
        // The window system repeats a held key as a release and a press of
        // one time stamp. When the press has not reached the application as
        // the release is read, neither is marked as a repeat; no hand
        // releases and presses a key within one millisecond.
        if (event->type() == QEvent::KeyRelease) {
            if (event->spontaneous() && !key->isAutoRepeat())
                released_ = {key->key(), key->timestamp()};
            return false;
        }
        return key->isAutoRepeat() || (event->spontaneous() && key->timestamp() != 0 &&
                                       Released{key->key(), key->timestamp()} == released_);
    }

private:
    // The dialog's own windows count too, and so does any modal box shown
    // above it, whichever window owns the box: a repeat would dismiss the
    // box or accept the folder chooser that the press has just opened,
    // before the operator has read it.
    bool InDialog(QWidget* widget) const
    {
        if (dialog_->isVisible() && widget->window()->isModal())
            return true;
        for (QWidget* window = widget->window(); window;
             window = window->parentWidget() ? window->parentWidget()->window() : nullptr)
            if (window == dialog_)
                return true;
        return false;
    }

    QWidget* dialog_;
    // The key, Return or Enter, last released in the dialog, and when, as the
    // platform stamped it.
    struct Released {
        int key = 0;
        quint64 at = 0;
        bool operator==(const Released& other) const { return key == other.key && at == other.at; }
    } released_;
};

} // namespace

void IgnoreHeldEnter(QWidget* dialog)
{
    new HeldEnterFilter(dialog);
}
