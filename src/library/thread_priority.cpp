#include "library/thread_priority.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tallowcrest {
namespace {

// From linux/ioprio.h, which not every system's headers carry.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;

}  // namespace

void makeThisThreadIdle()
{
    const sched_param parameters {};
    ::sched_setscheduler(0, SCHED_IDLE, &parameters);  // 0: the calling thread, not the process
    ::syscall(SYS_ioprio_set, kIoprioWhoProcess, ::gettid(), kIoprioClassIdle << kIoprioClassShift);
}

}  // namespace tallowcrest
