// ProgressHook: the one entry point through which a long operation reports its fraction done.
// The progress window (FmProgr.h) fills it; nothing here knows of any window.
#pragma once

using TProgressProc = void (*)(float fraction);

// Empty until InstallProgressHook (FmProgr.h) stores ProgressToWindow in it.
extern TProgressProc ProgressHook;
