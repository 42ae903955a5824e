// Text at the Windows boundary: the programs here keep UTF-8 and convert where they
// talk to the system's wide-character functions.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orvin::monitor {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);

// The command-line arguments (without the program) as UTF-8: main's own are in the ANSI
// code page.
std::vector<std::string> Arguments();

// An environment variable as UTF-8; empty when it is not set.
std::string Environment(const wchar_t* name);

} // namespace orvin::monitor
