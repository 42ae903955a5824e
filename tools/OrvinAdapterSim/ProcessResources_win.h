// What this process holds of the system: its threads and its open handles. The stand-in
// logs them as enumeration clients come and go, so a test can see that a long run of
// clients leaves nothing behind. GetProcessHandleCount is not enough: Wine answers it
// with 0, so the handles are counted in the system's handle table.
#pragma once

namespace orvin::sim {

struct ProcessResources {
    unsigned threads = 0;
    unsigned handles = 0;
};

// False when the system does not tell.
bool CountProcessResources(ProcessResources* resources);

} // namespace orvin::sim
