// Process-wide toolkit services: start-up settings, the application title, the message pump.
#pragma once

#include <QString>

// Font substitutions for the Windows faces the layouts name, and the classic bevelled style.
// Call once after the QApplication exists.
void InitializeToolkit();

const QString& ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Dispatches the events that are waiting and returns.
void ProcessMessages();

// ProcessMessages, unless it ran within the last few milliseconds: for loops that call it very often
// (once per decoded picture row), where a full pump each time would cost more than the work itself.
void ProcessMessagesNowAndThen();
