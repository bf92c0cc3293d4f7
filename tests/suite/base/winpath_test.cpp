#include "suite/base/winpath.h"

#include <gtest/gtest.h>

namespace {

TEST(WinPath, SeparatorConversionIsSymmetricAndTouchesNothingElse) {
    EXPECT_EQ(winpath::toNativeSeparators("C:/a/b c/d.txt"), "C:\\a\\b c\\d.txt");
    EXPECT_EQ(winpath::fromNativeSeparators("\\\\?\\C:\\a\\b"), "//?/C:/a/b");
    EXPECT_EQ(winpath::fromNativeSeparators("C:\\a/b\\c"), "C:/a/b/c");
    EXPECT_EQ(winpath::toNativeSeparators(winpath::fromNativeSeparators("\\home\\ann\\Ü.txt")), "\\home\\ann\\Ü.txt");
}

TEST(WinPath, CleanPathResolvesDotsAndSeparatorsButKeepsRootsAndEqualsComparesCleanPathsInAnyCase) {
    EXPECT_EQ(winpath::cleanPath("C:\\a\\.\\b\\..\\c\\"), "C:/a/c");
    EXPECT_EQ(winpath::cleanPath("C:\\a\\\\b//c"), "C:/a/b/c");
    EXPECT_EQ(winpath::cleanPath("C:/a\\b/..\\..\\d"), "C:/d");
    EXPECT_EQ(winpath::cleanPath("\\home\\ann\\Sync\\"), "/home/ann/Sync");
    EXPECT_EQ(winpath::cleanPath("a\\..\\..\\b"), "../b");
    EXPECT_EQ(winpath::cleanPath(""), "");
    // A drive letter is a root, not a segment that ".." may remove.
    EXPECT_EQ(winpath::cleanPath("C:\\"), "C:/");
    EXPECT_EQ(winpath::cleanPath("C:\\a\\.."), "C:/");
    EXPECT_EQ(winpath::cleanPath("C:\\a\\..\\.."), "C:/..");
    EXPECT_EQ(winpath::cleanPath("\\"), "/");
    EXPECT_EQ(winpath::cleanPath("\\\\server\\share\\..\\x"), "//server/x");
    EXPECT_EQ(winpath::cleanPath("\\\\?\\C:\\a\\.\\b\\"), "//?/C:/a/b");
    EXPECT_EQ(winpath::cleanPath("C:a\\..\\b"), "C:b");
    EXPECT_EQ(winpath::cleanPath("C:"), "C:");

    EXPECT_TRUE(winpath::equals("C:\\Users\\ANN\\Sync\\", "c:/users/ann/sync"));
    EXPECT_TRUE(winpath::equals("C:\\a\\..\\b", "C:\\B"));
    EXPECT_FALSE(winpath::equals("C:\\a\\b", "C:\\a\\bc"));
    EXPECT_FALSE(winpath::equals("C:\\a", "D:\\a"));
}

}  // namespace
