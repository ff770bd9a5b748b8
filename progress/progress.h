// ProgressHook: the one entry point through which a long operation reports its fraction done.
#pragma once

using TProgressProc = void (*)(float fraction);

// Empty until InstallProgressHook stores ProgressToWindow in it.
extern TProgressProc ProgressHook;

// Reports the fraction on the progress window (ReportProgress).
void ProgressToWindow(float fraction);

void InstallProgressHook();
