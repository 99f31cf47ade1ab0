#include "platform/thread.h"

#include <windows.h>

namespace platform {

void SetCurrentThreadPriorityBelowNormal() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

void SetCurrentThreadPriorityTimeCritical() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }

} // namespace platform
