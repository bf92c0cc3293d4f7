// The roles that cross-process tests start in a second copy of this binary (see child_role.h).
// They are disabled test cases, so they only run when a parent asks for them by name.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <cstdio>
#include <cstring>
#include <string>

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

TEST(Win32ChildRole, DISABLED_HoldSection) {
    role::joinParentFolders();
    role::EveryoneDescriptor everyone;
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, everyone.attributes(), PAGE_READWRITE, 0, 1000, kSectionName);
    void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    std::strcpy(static_cast<char*>(view), "{\"port\":6001}");
    UnmapViewOfFile(view);
    report("holding");
    role::stayUntilEnded();
}

TEST(Win32ChildRole, DISABLED_RenamedProcess) {
    role::joinParentFolders();
    ::prctl(PR_SET_NAME, role::roleEnv("ROLE_NAME").c_str(), 0, 0, 0);
    report("renamed");
    role::stayUntilEnded();
}

}  // namespace
