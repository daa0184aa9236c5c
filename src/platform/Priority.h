// Process and thread priorities. Raising them needs a privilege the user may not have; a
// refusal is ignored and the program runs at the priority it has.
#pragma once

struct TPriorities {
    int ProcessNice;   // nice value of the process (its main thread on Linux)
    int ThreadNice;    // nice value of the calling thread
    int ThreadPolicy;  // scheduling policy of the calling thread
    int ThreadRtLevel; // its real-time priority (0 outside the real-time policies)
};

TPriorities GetPriorities();
// The high priority class for the process and the highest priority for the calling thread:
// the program keeps them for its whole run, benchmark passes included.
void SetHighPriority();
// Real-time scheduling for the calling thread, for a short measurement only.
void SetRealtimePriority();
// Goes back to priorities read before (thread first, then process).
void SetPriorities(const TPriorities& priorities);
