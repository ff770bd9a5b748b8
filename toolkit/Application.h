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
