// What this process holds: its open handles. The stand-in logs them as enumeration clients
// come and go, so a test can see that a long run of clients leaves nothing behind (a client
// thread that never ended shows in the count of clients running).
//
// GetProcessHandleCount is not enough: Wine answers it with 0. Nor are the system-wide
// tables (the handle table, a thread snapshot): walking them while other processes start
// and end was seen to stall the whole Wine server now and then. So the handles are counted
// by asking about each possible handle value of this process.
#pragma once

namespace orvin::sim {

struct ProcessResources {
    unsigned handles = 0;
};

// False when the system does not tell.
bool CountProcessResources(ProcessResources* resources);

} // namespace orvin::sim
