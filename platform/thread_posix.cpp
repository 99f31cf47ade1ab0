#include "platform/thread.h"

#include <sys/resource.h>

namespace platform {

// Ordinary users may lower a thread's priority but not raise it; raising is best effort.
void SetCurrentThreadPriorityBelowNormal() { setpriority(PRIO_PROCESS, 0, 5); }

void SetCurrentThreadPriorityTimeCritical() {}

} // namespace platform
