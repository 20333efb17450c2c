#pragma once

namespace tallowcrest {

// Lets the calling thread run and read the disk only when nothing else wants
// to (SCHED_IDLE and the idle I/O class). Failing that, it runs as it was.
void makeThisThreadIdle();

}  // namespace tallowcrest
