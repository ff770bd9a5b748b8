// Where a window goes on the screen: wherever Qt, the program or the window manager placed a window
// that is being shown, its frame (the window manager's decoration; bare X adds none) ends up on the
// screen's available area whenever it fits there. Qt places a window by its inside when it does not
// know the frame yet, and at a small screen the title bar would lie above the screen.
#pragma once

class QWidget;

// Mends window's placement each time it is shown; where the user moves it afterwards is theirs.
// Installing it again does nothing.
void KeepFrameOnScreen(QWidget* window);
