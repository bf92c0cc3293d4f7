#include "suite/base/is_cloud_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/cfapi.h"
#include "platform/file_attribute_hooks.h"
#include "platform/platform_paths.h"
#include "platform/windows.h"
#include "suite/base/x_file_info.h"
#include "support/test_env.h"

namespace {

namespace platform = nimbrel::platform;

// Stands in for the Cloud Files store: the files named here are placeholders with the given tag.
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

class IsCloudFileTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = nimbrel::test::makeScratchDir("cloud");
        g_placeholder = dir_ + "/placeholder.txt";
        nimbrel::test::writeFile(g_placeholder, "");
        platform::setPlaceholderAttributeSource(placeholderSource);
    }
    void TearDown() override { platform::setPlaceholderAttributeSource(nullptr); }

    static std::wstring windowsForm(const std::string& hostPath) { return platform::toWindowsPath(hostPath); }

    std::string dir_;
};

TEST_F(IsCloudFileTest, EveryCloudTagMarksAPlaceholder) {
    for (DWORD variant : {0x0000u, 0x1000u, 0xF000u}) {
        g_tag = IO_REPARSE_TAG_CLOUD | variant;
        EXPECT_TRUE(IsCloudFile(windowsForm(g_placeholder))) << std::hex << g_tag;
    }
}

TEST_F(IsCloudFileTest, OtherItemsAreNotCloudFiles) {
    g_tag = IO_REPARSE_TAG_CLOUD;
    const std::string ordinary = dir_ + "/ordinary.txt";
    const std::string link = dir_ + "/link.txt";
    nimbrel::test::writeFile(ordinary, "data");
    std::filesystem::create_symlink(ordinary, link);

    EXPECT_FALSE(IsCloudFile(windowsForm(ordinary)));
    EXPECT_FALSE(IsCloudFile(windowsForm(link)));
    EXPECT_FALSE(IsCloudFile(windowsForm(dir_ + "/missing.txt")));
    EXPECT_FALSE(IsCloudFile(windowsForm(dir_)));
}

TEST_F(IsCloudFileTest, ReparsePointWithAForeignTagIsNotACloudFile) {
    g_tag = 0x80000017u;  // a WOF-compressed file: a reparse point, but not a placeholder
    EXPECT_FALSE(IsCloudFile(windowsForm(g_placeholder)));
}

TEST_F(IsCloudFileTest, PlaceholderIsNoSymbolicLinkForFileInfo) {
    g_tag = IO_REPARSE_TAG_CLOUD | 0x3000u;
    EXPECT_FALSE(CXFileInfo(QString::fromStdWString(windowsForm(g_placeholder))).isSymLink());
}

}  // namespace
