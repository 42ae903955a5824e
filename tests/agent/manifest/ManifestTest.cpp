// The built programs as Windows sees them at their start: each carries exactly one
// application manifest, resource 1 of type 24, that the system's activation context accepts
// and that asks for what a Windows program of today asks for: no elevation (asInvoker),
// Windows 7, 8, 8.1, 10 and 11 by their compatibility ids, the version 6 common controls
// and system DPI awareness. The ids and names are the system's own, written out here.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace {

// Build paths (this machine's) in Wine's form: the Z: drive is the root.
std::string WindowsPath(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return "Z:" + path;
}

std::vector<std::string> Programs() {
    std::vector<std::string> programs;
    std::string list = ORVIN_PROGRAMS;
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find('|', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        if (end > start) {
            programs.push_back(WindowsPath(list.substr(start, end - start)));
        }
        start = end + 1;
    }
    return programs;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(reinterpret_cast<ULONG_PTR>(name));
    return TRUE;
}

TEST(ManifestTest, EveryProgramWeShipIncludingEveryToolIsListed) {
    const std::vector<std::string> programs = Programs();
    std::set<std::string> names;
    for (const std::string& path : programs) {
        names.insert(path.substr(path.rfind('\\') + 1));
    }
    EXPECT_TRUE(names.count("OrvinAgent.exe"));
    // Whatever program the build made in tools/ is among them.
    WIN32_FIND_DATAA found;
    const std::string tools = WindowsPath(ORVIN_TOOLS_DIR);
    HANDLE find = FindFirstFileA((tools + "\\*").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << tools;
    int seen = 0;
    do {
        const std::string folder = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || folder == "." || folder == "..") {
            continue;
        }
        WIN32_FIND_DATAA program;
        HANDLE inner = FindFirstFileA((tools + "\\" + folder + "\\*.exe").c_str(), &program);
        if (inner == INVALID_HANDLE_VALUE) {
            continue;
        }
        do {
            ++seen;
            EXPECT_TRUE(names.count(program.cFileName)) << program.cFileName << " carries no manifest";
        } while (FindNextFileA(inner, &program));
        FindClose(inner);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    EXPECT_GE(seen, 7) << "the stand-ins and utilities of tools/";
}

TEST(ManifestTest, EachProgramCarriesTheManifestTheSystemAccepts) {
    const std::vector<std::string> programs = Programs();
    ASSERT_FALSE(programs.empty());
    for (const std::string& path : programs) {
        SCOPED_TRACE(path);
        HMODULE module =
            LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        std::vector<ULONG_PTR> names;
        EnumResourceNamesA(module, MAKEINTRESOURCEA(24), CollectName, reinterpret_cast<LONG_PTR>(&names));
        EXPECT_EQ(names, std::vector<ULONG_PTR>({1})) << "one manifest, resource 1 of type 24";
        HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        ASSERT_NE(resource, nullptr);
        const DWORD size = SizeofResource(module, resource);
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
        ASSERT_NE(bytes, nullptr);
        const std::string manifest(bytes, size);
        FreeLibrary(module);

        for (const char* wanted : {
                 "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
                 "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>", // Windows 7
                 "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>", // Windows 8
                 "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>", // Windows 8.1
                 "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", // Windows 10 and 11
                 "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                 "publicKeyToken=\"6595b64144ccf1df\"",
                 "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
             }) {
            EXPECT_NE(manifest.find(wanted), std::string::npos) << "lacks " << wanted;
        }
        // The system reads it as a process's start would.
        ACTCTXA context = {};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = path.c_str();
        context.lpResourceName = MAKEINTRESOURCEA(1);
        HANDLE activation = CreateActCtxA(&context);
        EXPECT_NE(activation, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        if (activation != INVALID_HANDLE_VALUE) {
            ReleaseActCtx(activation);
        }
    }
}

} // namespace
