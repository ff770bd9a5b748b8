#include "progress.h"

TProgressProc ProgressHook = nullptr;
