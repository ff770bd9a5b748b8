#include "progress.h"

#include "FmProgr.h"

TProgressProc ProgressHook = nullptr;

void ProgressToWindow(float fraction)
{
    ReportProgress(fraction);
}

void InstallProgressHook()
{
    ProgressHook = ProgressToWindow;
}
