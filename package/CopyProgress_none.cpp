// The build without windows: no progress window, nothing to pump.
#include "package/CopyProgress.h"

const ProgressSink* OpenCopyProgress(int64_t) { return nullptr; }
int CloseCopyProgress() { return 1; }
int PumpMessages() { return 0; }
void SetBeforeQuit(void (*)()) {}
