#include "suite/base/is_cloud_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/cfapi.h"
#include "platform/file_filter_hooks.h"
#include "platform/platform_paths.h"
#include "platform/windows.h"
#include "suite/base/x_file_info.h"
#include "support/test_env.h"

namespace {

namespace platform = nimbrel::platform;

// Stands in for the Cloud Files store: the file named here is a placeholder with the given tag.
std::string g_placeholder;
DWORD g_tag = 0;

platform::PlaceholderAttributes placeholderSource(const std::string& hostPath, int) {
    platform::PlaceholderAttributes attributes;
    if (hostPath == g_placeholder) {
        attributes.set = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_OFFLINE;
        attributes.reparseTag = g_tag;
    }
    return attributes;
}

bool isCloudFile(const std::string& hostPath) { return IsCloudFile(platform::toWindowsPath(hostPath)); }

TEST(IsCloudFile, OnlyReparsePointsWithACloudTagAreCloudFiles) {
    const std::string dir = nimbrel::test::makeScratchDir("cloud");
    g_placeholder = dir + "/placeholder.txt";
    nimbrel::test::writeFile(g_placeholder, "");
    platform::setPlaceholderAttributeSource(placeholderSource);

    for (DWORD variant : {0x0000u, 0x1000u, 0xF000u}) {
        g_tag = IO_REPARSE_TAG_CLOUD | variant;
        EXPECT_TRUE(isCloudFile(g_placeholder)) << std::hex << g_tag;
    }
    // A placeholder is a reparse point, but no symbolic link for the file information.
    EXPECT_FALSE(CXFileInfo(QString::fromStdWString(platform::toWindowsPath(g_placeholder))).isSymLink());

    g_tag = 0x80000017u;  // a WOF-compressed file: a reparse point, but not a placeholder
    EXPECT_FALSE(isCloudFile(g_placeholder));

    g_tag = IO_REPARSE_TAG_CLOUD;
    const std::string ordinary = dir + "/ordinary.txt";
    nimbrel::test::writeFile(ordinary, "data");
    std::filesystem::create_symlink(ordinary, dir + "/link.txt");
    for (const std::string& other : {ordinary, dir + "/link.txt", dir + "/missing.txt", dir}) {
        EXPECT_FALSE(isCloudFile(other)) << other;
    }
}

}  // namespace
