#pragma once
// Message boxes through one replaceable handler, so tests can record the
// texts instead of blocking on a dialog.
#include <functional>
#include <string>

class QWidget;

namespace platform {

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using MessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, unsigned type)>;

// Texts are UTF-8; a box given no caption carries the application title. On
// the GUI thread the box is modal and its answer is
// returned; from any other thread it is shown later on the GUI thread and
// IDOK is returned at once, so a worker never blocks on the operator.
int MessageBox(QWidget* parent, const std::string& text, const std::string& caption = {},
               unsigned type = MB_OK);

// The program's application title, the caption of boxes that name none.
void SetApplicationTitle(const std::string& title);
std::string ApplicationTitle();

// Replaces the handler (an empty function restores the dialog); returns the
// previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace platform
