// The roles that cross-process tests start in a second copy of this binary (see child_role.h).
// They are disabled test cases, so they only run when a parent asks for them by name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/crashrpt.h"
#include "platform/platform_paths.h"
#include "platform/win32/child_role.h"
#include "platform/win32/everyone_descriptor.h"
#include "platform/windows.h"

namespace {

namespace role = nimbrel::test::win32;

constexpr const char* kSectionName = "_SocketApi_tcp_sync_";

void report(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

TEST(Win32ChildRole, DISABLED_HoldMutex) {
    role::joinParentFolders();
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"RoziDavidoVodido");
    report("created " + std::to_string(GetLastError()) + (mutex ? "" : " null"));
    role::waitForRelease();
}

TEST(Win32ChildRole, DISABLED_OwnMutex) {
    role::joinParentFolders();
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"owned");
    report("owner " + std::to_string(GetLastError()) + (mutex ? "" : " null"));
    role::waitForRelease();
}

TEST(Win32ChildRole, DISABLED_ReadSection) {
    role::joinParentFolders();
    HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, kSectionName);
    if (!section) {
        report("open failed " + std::to_string(GetLastError()));
        return;
    }
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
    report("read " + std::string(static_cast<const char*>(view), strnlen(static_cast<const char*>(view), 1000)));
    UnmapViewOfFile(view);
    CloseHandle(section);
}

TEST(Win32ChildRole, DISABLED_HoldSection) {
    role::joinParentFolders();
    role::EveryoneDescriptor everyone;
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, everyone.attributes(), PAGE_READWRITE, 0, 1000, kSectionName);
    void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    std::strcpy(static_cast<char*>(view), "{\"port\":6001}");
    UnmapViewOfFile(view);
    report("holding");
    role::waitForRelease();
}

TEST(Win32ChildRole, DISABLED_RenamedProcess) {
    role::joinParentFolders();
    ::prctl(PR_SET_NAME, role::roleEnv("ROLE_NAME").c_str(), 0, 0, 0);
    report("renamed");
    role::waitForRelease();
}

// Installs the crash reporter as the host does and crashes in the way ROLE_CRASH names.
__attribute__((no_sanitize("address", "undefined"))) void crashByNullDereference() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

TEST(Win32ChildRole, DISABLED_Crash) {
    role::joinParentFolders();
    std::wstring saveDir = nimbrel::platform::toWindowsPath(role::roleEnv("ROLE_SAVE_DIR"));
    std::wstring attached = nimbrel::platform::toWindowsPath(role::roleEnv("ROLE_ATTACH"));
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info;
    info.pszAppName = L"RoziDavidoVodido";
    info.pszAppVersion = L"8.8.0";
    info.pszEmailTo = L"crash@example.com";
    info.pszEmailSubject = L"RoziDavidoVodido-git8.8.0.20260828-20260918165948";
    info.pszEmailText = L"compiletime:  Sep 18 2026 16:59:48\r\nstarttime:  2026-09-18 17:00:00";
    info.pszErrorReportSaveDir = saveDir.c_str();
    info.dwFlags = CR_INST_ALL_POSSIBLE_HANDLERS | CR_INST_NO_GUI;
    if (role::roleEnv("ROLE_SEND") != "1") info.dwFlags |= CR_INST_DONT_SEND_REPORT;
    ASSERT_EQ(crInstallW(&info), 0);
    ASSERT_EQ(crAddScreenshot2(CR_AS_MAIN_WINDOW | CR_AS_USE_JPEG_FORMAT, 95), 0);
    ASSERT_EQ(crAddFile2W(attached.c_str(), nullptr, L"ini file", CR_AF_MAKE_FILE_COPY), 0);
    ASSERT_EQ(crAddFile2W((attached + L".gone").c_str(), nullptr, L"log file", CR_AF_MISSING_FILE_OK), 0);
    ASSERT_EQ(crAddPropertyW(L"CompileVersion", L"git8.8.0.20260828"), 0);
    ASSERT_EQ(crAddPropertyW(L"StartRunTime", L"2026-09-18 17:00:00"), 0);
    report("installed");
    if (role::roleEnv("ROLE_CRASH") == "null") {
        crashByNullDereference();
    } else {
        ::kill(::getpid(), SIGSEGV);
    }
    report("survived");
}

}  // namespace
