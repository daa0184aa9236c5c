#include "platform/Priority.h"

#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The process's class and the thread's priority each give a nice value; on Linux nice is
// per thread, so the thread's setting is the one that counts for the calling thread.
constexpr int HighClassNice = -10;
constexpr int HighestThreadNice = -12;

int ThreadId() {
    return static_cast<int>(syscall(SYS_gettid));
}

int NiceOf(int which, int who) {
    errno = 0;
    const int value = getpriority(which, static_cast<id_t>(who));
    return errno == 0 ? value : 0;
}

} // namespace

TPriorities GetPriorities() {
    TPriorities priorities{};
    priorities.ProcessNice = NiceOf(PRIO_PROCESS, getpid());
    priorities.ThreadNice = NiceOf(PRIO_PROCESS, ThreadId());
    priorities.ThreadPolicy = sched_getscheduler(0);
    if (priorities.ThreadPolicy < 0)
        priorities.ThreadPolicy = SCHED_OTHER;
    sched_param param{};
    if (sched_getparam(0, &param) == 0)
        priorities.ThreadRtLevel = param.sched_priority;
    return priorities;
}

void SetHighPriority() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(getpid()), HighClassNice);
    setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), HighestThreadNice);
}

void SetRealtimePriority() {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    sched_setscheduler(0, SCHED_FIFO, &param);
}

void SetPriorities(const TPriorities& priorities) {
    sched_param param{};
    param.sched_priority = priorities.ThreadRtLevel;
    sched_setscheduler(0, priorities.ThreadPolicy, &param);
    setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), priorities.ThreadNice);
    if (ThreadId() != getpid())
        setpriority(PRIO_PROCESS, static_cast<id_t>(getpid()), priorities.ProcessNice);
}
