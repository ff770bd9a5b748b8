// The screen-wide cursor shown over every window of the program.
#pragma once

enum class TCursor { Default, HourGlass };

namespace Screen {
TCursor Cursor();
void SetCursor(TCursor cursor);
} // namespace Screen
