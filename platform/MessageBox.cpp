#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <mutex>

namespace platform {

namespace {

std::mutex g_handlerMutex; // the handler and the title
MessageBoxHandler g_handler;
std::string g_title;

int ShowDialog(QWidget* parent, const std::string& text, const std::string& caption, unsigned type)
{
    QMessageBox box(parent);
    box.setText(QString::fromStdString(text));
    box.setWindowTitle(QString::fromStdString(caption));
    switch (type & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    switch (type & 0x0F) {
    case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return IDOK;
    }
}

int ShowOnThisThread(QWidget* parent, const std::string& text, const std::string& caption, unsigned type)
{
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler)
        return handler(text, caption, type);
    return ShowDialog(parent, text, caption, type);
}

} // namespace

int MessageBox(QWidget* parent, const std::string& text, const std::string& givenCaption, unsigned type)
{
    const std::string caption = givenCaption.empty() ? ApplicationTitle() : givenCaption;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->thread() == QThread::currentThread())
        return ShowOnThisThread(parent, text, caption, type);
    QPointer<QWidget> guardedParent(parent);
    QMetaObject::invokeMethod(
        app, [guardedParent, text, caption, type] { ShowOnThisThread(guardedParent, text, caption, type); },
        Qt::QueuedConnection);
    return IDOK;
}

void SetApplicationTitle(const std::string& title)
{
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_title = title;
}

std::string ApplicationTitle()
{
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    return g_title;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    MessageBoxHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

} // namespace platform
