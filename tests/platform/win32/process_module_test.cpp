#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/platform_paths.h"
#include "platform/win32/child_role.h"
#include "platform/windows.h"

namespace {

namespace p = nimbrel::platform;
namespace t = nimbrel::test;
namespace role = nimbrel::test::win32;

// The error a call left when it failed (a false result or an invalid handle), ERROR_SUCCESS otherwise.
long failure(BOOL ok) { return ok ? ERROR_SUCCESS : static_cast<long>(GetLastError()); }
long failure(HANDLE h) { return failure(h != INVALID_HANDLE_VALUE && h != nullptr); }

bool snapshotHas(DWORD pid, const std::wstring& image) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == pid && image == entry.szExeFile) found = true;
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    CloseHandle(snapshot);
    return found;
}

TEST(Win32Process, SnapshotFindsAChildByItsImageNameAndItsMemoryCountersAreRead) {
    auto child = role::startRole("RenamedProcess", {{"ROLE_NAME", "ziduZudu.exe"}});
    ASSERT_TRUE(t::waitUntil([&] { return child->out().find("renamed") != std::string::npos; })) << child->err();
    EXPECT_TRUE(snapshotHas(static_cast<DWORD>(child->pid()), L"ziduZudu.exe"));

    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(child->pid()));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(GetProcessId(process), static_cast<DWORD>(child->pid()));
    PROCESS_MEMORY_COUNTERS counters{};
    ASSERT_TRUE(GetProcessMemoryInfo(process, &counters, sizeof counters));
    EXPECT_GT(counters.WorkingSetSize, 0u);
    EXPECT_GE(counters.PeakWorkingSetSize, counters.WorkingSetSize);
    CloseHandle(process);
}

// comm holds 15 characters: a longer image name is found by its first 15.
TEST(Win32Process, SnapshotLeavesOutProcessesOfAnotherRuntimeScopeAndCutsLongImageNames) {
    auto elsewhere = role::startRole(
        "RenamedProcess", {{"ROLE_NAME", "ziduZudu.exe"}, {"NIMBREL_RUNTIME_DIR", t::makeScratchDir("other-run")}});
    auto here = role::startRole("RenamedProcess", {{"ROLE_NAME", "RoziDavidoVodido.exe"}});
    ASSERT_TRUE(t::waitUntil([&] { return elsewhere->out().find("renamed") != std::string::npos; }));
    ASSERT_TRUE(t::waitUntil([&] { return here->out().find("renamed") != std::string::npos; }));
    EXPECT_FALSE(snapshotHas(static_cast<DWORD>(elsewhere->pid()), L"ziduZudu.exe"));
    EXPECT_TRUE(snapshotHas(static_cast<DWORD>(here->pid()), L"RoziDavidoVodid"));
}

TEST(Win32Process, OpenProcessAndHandlesRefuseWhatWindowsRefuses) {
    EXPECT_EQ(failure(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(failure(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0x7FFFFFF0u)), ERROR_INVALID_PARAMETER);
    HANDLE self = OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(failure(TerminateProcess(self, 3)), ERROR_ACCESS_DENIED);
    PROCESS_MEMORY_COUNTERS counters{};
    EXPECT_EQ(failure(GetProcessMemoryInfo(self, &counters, sizeof counters)), ERROR_ACCESS_DENIED);
    CloseHandle(self);
    EXPECT_EQ(GetProcessId(GetCurrentProcess()), static_cast<DWORD>(getpid()));
    EXPECT_EQ(GetCurrentProcess(), reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)));
    PROCESSENTRY32W entry{};
    entry.dwSize = 4;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    EXPECT_EQ(failure(Process32FirstW(snapshot, &entry)), ERROR_BAD_LENGTH);
    CloseHandle(snapshot);
}

TEST(Win32ProcessDeathTest, TerminatingItselfExitsWithTheCodeAtOnce) {
    EXPECT_EXIT(
        {
            std::atexit([] { std::fputs("atexit ran", stderr); });
            TerminateProcess(GetCurrentProcess(), 7);
        },
        testing::ExitedWithCode(7), testing::Not(testing::HasSubstr("atexit ran")));
}

TEST(Win32Module, ModuleFileNameIsTheExecutableInWindowsForm) {
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    wchar_t name[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, name, MAX_PATH);
    EXPECT_EQ(std::wstring(name, length), p::toWindowsPath(exe));
    wchar_t tiny[4] = {};
    EXPECT_EQ(GetModuleFileNameW(nullptr, tiny, 4), 4u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(tiny[3], L'\0');
}

TEST(Win32Module, DllNamesLoadTheSharedLibraryBesideThem) {
    std::wstring dll = p::toWindowsPath(t::appDir()) + L"\\win32probe.dll";
    HMODULE module = LoadLibraryW(dll.c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    auto answer = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "ProbeAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    wchar_t name[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(module, name, MAX_PATH);
    EXPECT_EQ(std::wstring(name, length), p::toWindowsPath(t::appDir()) + L"\\libwin32probe.so");
    EXPECT_EQ(failure(GetProcAddress(module, "NoSuchExport") != nullptr), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(module));

    // A bare name is looked for beside the executable, then along the library path.
    EXPECT_EQ(failure(LoadLibraryW(L"win32probe.dll")), ERROR_MOD_NOT_FOUND);
    ::setenv("LD_LIBRARY_PATH", ("/nonexistent:" + t::appDir()).c_str(), 1);
    HMODULE bare = LoadLibraryW(L"win32probe.dll");
    ::unsetenv("LD_LIBRARY_PATH");
    ASSERT_NE(bare, nullptr);
    EXPECT_NE(GetProcAddress(bare, "ProbeAnswer"), nullptr);
    FreeLibrary(bare);

    EXPECT_EQ(failure(LoadLibraryW((p::toWindowsPath(t::appDir()) + L"\\nosuchmodule.dll").c_str())),
              ERROR_MOD_NOT_FOUND);
}

}  // namespace
