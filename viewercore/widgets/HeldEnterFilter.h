#pragma once
// A held key repeats about 25 times a second, and a dialog takes each
// repeat of Return or Enter as a new press of its default (or focused)
// button: a job that has ended before the next repeat would be started again
// by every one. A dialog given to IgnoreHeldEnter takes a held Return or
// Enter as one press wherever its focus is; a key released and pressed again
// is a press of its own.
class QWidget;

void IgnoreHeldEnter(QWidget* dialog);
