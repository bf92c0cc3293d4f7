// Normalising the times of a pushed item before it becomes a placeholder.
#include "cfapi/placeholder_item_info.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QString>
#include <array>

#include "cfapi/file_time.h"
#include "platform/windows.h"
#include "support/test_env.h"

namespace {

PlaceholderItemInfo itemAt(const std::string& hostPath, qint64 created, qint64 modified, qint64 accessed) {
    PlaceholderItemInfo item;
    item.path = QString::fromStdString(hostPath).replace('/', '\\').toStdWString();
    item.creationTime = created;
    item.modificationTime = modified;
    item.accessTime = accessed;
    return item;
}

}  // namespace

TEST(PlaceholderItemInfoTest, TimesInOrderStayAndModificationBoundsCreationAndAccessFromBothSides) {
    using Times = std::array<qint64, 3>;  // creation, modification, access
    const std::pair<Times, Times> cases[] = {{{1000, 2000, 3000}, {1000, 2000, 3000}},
                                             {{5000, 2000, 1000}, {2000, 2000, 2000}}};
    for (const auto& [given, normalized] : cases) {
        auto item = itemAt("/nowhere/a.txt", given[0], given[1], given[2]);
        item.normalizeTimes();
        EXPECT_EQ((Times{item.creationTime, item.modificationTime, item.accessTime}), normalized) << given[0];
    }
}

TEST(PlaceholderItemInfoTest, UnsetTimesOfAMissingItemBecomeNow) {
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    auto item = itemAt("/nowhere/a.txt", 0, -5, 4294967295000LL);
    item.normalizeTimes();
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    EXPECT_GE(item.creationTime, before);
    EXPECT_LE(item.accessTime, after);
    EXPECT_LE(item.creationTime, item.modificationTime);
    EXPECT_LE(item.modificationTime, item.accessTime);
}

TEST(PlaceholderItemInfoTest, UnsetTimesOfAnExistingItemComeFromTheLocalFile) {
    const std::string file = nimbrel::test::makeScratchDir("item") + "/a.txt";
    nimbrel::test::writeFile(file, "x");
    HANDLE handle = CreateFileW(QString::fromStdString(file).toStdWString().c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILETIME created = filetime::filetimeFromUnixSeconds(1500000000);
    FILETIME accessed = filetime::filetimeFromUnixSeconds(1500000200);
    FILETIME written = filetime::filetimeFromUnixSeconds(1500000100);
    ASSERT_TRUE(SetFileTime(handle, &created, &accessed, &written));
    CloseHandle(handle);

    auto item = itemAt(file, 0, 4294967295000LL, 1600000000);
    item.normalizeTimes();
    EXPECT_EQ(item.creationTime, 1500000000);
    EXPECT_EQ(item.modificationTime, 1500000100);
    EXPECT_EQ(item.accessTime, 1600000000);
}
