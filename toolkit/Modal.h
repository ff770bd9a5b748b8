// Modal windows and the X11 details they need, at the bottom of the toolkit: which window a new
// modal window belongs to, running it so that the keyboard focus comes and goes right with or
// without a window manager, and keeping a minimised modal window within the user's reach.
#pragma once

class QDialog;
class QWidget;

// Whether a window manager runs on the display. Without one nobody hands out the keyboard focus or
// decorates windows, so the program does both itself. Asked anew each time: one may start or end.
bool WindowManagerPresent();

// Brings a modal window that the window manager let the user minimise back in front, with the
// focus, when the user activates or clicks a window it blocks. Called once at start.
void KeepModalWindowsInReach();

// The window that owns modal windows when none is open; nullptr: none.
void SetModalMainWindow(QWidget* window);
// The window a new modal window belongs to: the topmost modal window open, else the main window.
QWidget* ModalOwner();
// Readies window to run modally over owner: no minimise box (a minimised modal window would leave
// nothing to use), kept above its owner and placed over it by the window manager, or by Qt without one.
void PrepareModal(QWidget* window, QWidget* owner);
// Without a window manager nobody hands the keyboard focus on when a window that had it closes:
// the window modal windows belong to now takes it back. Call after window was hidden.
void ReturnFocusFrom(QWidget* window);
// Runs a prepared modal dialog. Without a window manager nobody else hands out the keyboard focus:
// the dialog takes it when it shows, and owner gets it back when the dialog closes.
int RunModal(QDialog& dialog, QWidget* owner);
