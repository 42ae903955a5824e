// OrvinAppCtl: asks the adapter maker's desktop applications, through the application
// manager, whether they run and to shut down, as an installer does before it replaces them.
//
//   OrvinAppCtl.exe [--as ID] running ID    prints whether application ID runs
//   OrvinAppCtl.exe [--as ID] shutdown ID   asks it to shut down and waits (about 40 s at most)
//   OrvinAppCtl.exe [--as ID] shutdown-all  the same for every application found
//
// The program takes part in the protocol as application --as (default 99; the agent is 2):
// that is the sender ID the others see, and it is never asked to shut itself down.
// Exit status: running: 0 running, 1 not running; shutdown and shutdown-all: 0 when every
// application asked has ended or none was running, 1 when one is still running; 2 wrong
// command line; 3 no application manager.
#include "base/appmanager/OrvinAppManager.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultOwnId = 99;

enum ExitStatus {
    kExitOk = 0,
    kExitNo = 1, // not running, or still running after the waits
    kExitUsage = 2,
    kExitNoManager = 3,
};

const char kHelp[] = R"(OrvinAppCtl - asks the adapter's desktop applications to shut down.

usage: OrvinAppCtl.exe [--as ID] running ID
       OrvinAppCtl.exe [--as ID] shutdown ID
       OrvinAppCtl.exe [--as ID] shutdown-all

  running ID     prints whether application ID runs; exit 0 running, 1 not running
  shutdown ID    sends application ID the shutdown command and waits up to about 40 s
                 for it to end; exit 0 when it has ended (or was not running), 1 if not
  shutdown-all   the same for every other application found, in ascending ID order
  --as ID        the application ID this program takes part as (default 99); the
                 agent is application 2

Exit status 2: wrong command line; 3: the application manager could not be made.
)";

int Usage(const char* szWhy) {
    fprintf(stderr, "OrvinAppCtl: %s\n(OrvinAppCtl --help shows the usage)\n", szWhy);
    return kExitUsage;
}

// A decimal application ID, nothing else.
bool ParseId(const char* szText, int* pnId) {
    if (!szText || !*szText) {
        return false;
    }
    for (const char* p = szText; *p; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    errno = 0;
    const long long llId = strtoll(szText, nullptr, 10);
    if (errno != 0 || llId > INT_MAX) {
        return false;
    }
    *pnId = (int)llId;
    return true;
}

std::string IdList(const std::vector<int>& ids) {
    std::string text;
    for (int nId : ids) {
        text += (text.empty() ? "" : ", ") + std::to_string(nId);
    }
    return text;
}

int Running(OrvinAppManager* pManager, int nId) {
    const bool bRunning = pManager->IsAppRunning(nId);
    printf("application %d is %s\n", nId, bRunning ? "running" : "not running");
    return bRunning ? kExitOk : kExitNo;
}

int Shutdown(OrvinAppManager* pManager, int nId) {
    if (!pManager->IsAppRunning(nId)) {
        printf("application %d is not running\n", nId);
        return kExitOk;
    }
    printf("asking application %d to shut down\n", nId);
    fflush(stdout);
    if (pManager->ShutdownApp(nId)) {
        printf("application %d has shut down\n", nId);
        return kExitOk;
    }
    const std::vector<int> found = pManager->FindRunningApps();
    bool bHasWindow = false;
    for (int nFound : found) {
        bHasWindow = bHasWindow || nFound == nId;
    }
    if (bHasWindow) {
        printf("application %d is still running after %d waits of %lu ms\n", nId,
               OrvinAppManager::kShutdownWaits, (unsigned long)OrvinAppManager::kShutdownWaitMs);
    } else {
        printf("application %d is running but has no window to take the command\n", nId);
    }
    return kExitNo;
}

int ShutdownAll(OrvinAppManager* pManager) {
    const std::vector<int> found = pManager->FindRunningApps();
    if (found.empty()) {
        printf("no other application is running\n");
        return kExitOk;
    }
    printf("asking applications %s to shut down\n", IdList(found).c_str());
    fflush(stdout);
    pManager->ShutdownAllApps(0);
    int nStatus = kExitOk;
    for (int nId : found) {
        const bool bRunning = pManager->IsAppRunning(nId);
        printf("application %d %s\n", nId, bRunning ? "is still running" : "has shut down");
        if (bRunning) {
            nStatus = kExitNo;
        }
    }
    return nStatus;
}

} // namespace

int main(int argc, char** argv) {
    int nOwnId = kDefaultOwnId;
    std::vector<const char*> words;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            fputs(kHelp, stdout);
            return kExitOk;
        }
        if (!strcmp(argv[i], "--as")) {
            if (i + 1 >= argc || !ParseId(argv[i + 1], &nOwnId) || nOwnId == 0) {
                return Usage("--as needs an application ID above 0");
            }
            ++i;
            continue;
        }
        words.push_back(argv[i]);
    }
    if (words.empty()) {
        return Usage("no command");
    }
    const std::string command = words[0];
    int nId = 0;
    if (command == "running" || command == "shutdown") {
        if (words.size() != 2 || !ParseId(words[1], &nId)) {
            return Usage((command + " needs one application ID").c_str());
        }
        if (command == "shutdown" && nId == nOwnId) {
            return Usage("this program is that application itself: choose another --as");
        }
    } else if (command == "shutdown-all") {
        if (words.size() != 1) {
            return Usage("shutdown-all takes no argument");
        }
    } else {
        return Usage(("unknown command " + command).c_str());
    }

    OrvinAppManager* pManager = OrvinAppManager::GetInstance();
    if (!pManager) {
        fprintf(stderr, "OrvinAppCtl: no application manager\n");
        return kExitNoManager;
    }
    pManager->SetParentID(nOwnId);
    int nStatus;
    if (command == "running") {
        nStatus = Running(pManager, nId);
    } else if (command == "shutdown") {
        nStatus = Shutdown(pManager, nId);
    } else {
        nStatus = ShutdownAll(pManager);
    }
    fflush(stdout);
    OrvinAppManager::DestroyInstance();
    return nStatus;
}
