// This user's running agent as another program finds it: its message engine (the hidden
// window titled "MessageOnlyWindowTitle", the monitor channel's partner) and its main
// dialog (titled "OrvinAgent", with the event log), each only in a process whose image is
// OrvinAgent.exe and that runs as this same user. Any program can make a window with
// those titles, and another user's programs may share the desktop: a window that fails
// the checks is never told anything nor read.
//
// Threads: no state; any thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

bool IsOwnAgentWindow(HWND window);
// Null when no agent of this user runs.
HWND FindAgentEngine();
HWND FindAgentDialog();
// The full path of the program a window belongs to, "" when it cannot be had.
std::string WindowProgramPath(HWND window);
// The main dialog's event log, line by line (found: an agent's dialog was there).
std::vector<std::string> ReadAgentEventLog(bool* found);
