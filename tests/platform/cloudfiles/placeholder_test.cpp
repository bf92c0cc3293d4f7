// Placeholders: creation, conversion, information, pin and in-sync states, update and dehydration,
// with the attribute words a Windows program reads back.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "cf_test_support.h"
#include "platform/win32_file_support.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

constexpr DWORD kDehydratedBits = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS;

class CloudFilesPlaceholder : public RegisteredRootTest {
protected:
    // Sets the pin state through a handle of its own.
    static HRESULT setPin(const std::string& path, CF_PIN_STATE state, CF_SET_PIN_FLAGS flags = CF_SET_PIN_FLAG_NONE) {
        Handle handle(path);
        return CfSetPinState(handle.get(), state, flags, nullptr);
    }
};

TEST_F(CloudFilesPlaceholder, CreatedFileIsADehydratedPlaceholderWithItsSizeAndIdentity) {
    ASSERT_EQ(createPlaceholder(root, "a.bin", 10000, identityOf(u"id-1")), S_OK);
    const std::string path = root + "/a.bin";
    EXPECT_EQ(attributesOf(path) & kDehydratedBits, kDehydratedBits);
    EXPECT_EQ(allocatedBytes(path), 0);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 10000u);
    auto info = placeholderInfo(path);
    EXPECT_EQ(info.hr, S_OK);
    EXPECT_EQ(info.identity, identityOf(u"id-1"));
    EXPECT_EQ(info.inSync, CF_IN_SYNC_STATE_IN_SYNC);
    EXPECT_EQ(info.pin, CF_PIN_STATE_UNSPECIFIED);

    Handle handle(path);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    ASSERT_TRUE(GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof(tag)));
    EXPECT_EQ(tag.ReparseTag, IO_REPARSE_TAG_CLOUD);
    EXPECT_EQ(CfGetPlaceholderStateFromAttributeTag(tag.FileAttributes, tag.ReparseTag),
              CF_PLACEHOLDER_STATE_PLACEHOLDER | CF_PLACEHOLDER_STATE_PARTIAL | CF_PLACEHOLDER_STATE_PARTIALLY_ON_DISK);
}

TEST_F(CloudFilesPlaceholder, CreationReportsPerEntryResultsAndRefusesBadEntries) {
    const std::string id = identityOf(u"x");
    const std::wstring names[] = {L"ok.txt", L"sub\\bad.txt", L"ok.txt", L"dir"};
    CF_PLACEHOLDER_CREATE_INFO batch[4]{};
    for (int i = 0; i < 4; ++i) {
        batch[i].RelativeFileName = names[i].c_str();
        batch[i].FileIdentity = id.data();
        batch[i].FileIdentityLength = static_cast<DWORD>(id.size());
    }
    batch[3].FsMetadata.BasicInfo.FileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    DWORD processed = 0;
    HRESULT hr = CfCreatePlaceholders(wide(root).c_str(), batch, 4, CF_CREATE_FLAG_NONE, &processed);
    EXPECT_EQ(processed, 4u);
    EXPECT_EQ(batch[0].Result, S_OK);
    EXPECT_TRUE(FAILED(batch[1].Result));
    EXPECT_EQ(batch[2].Result, static_cast<HRESULT>(0x800700B7));
    EXPECT_EQ(batch[3].Result, S_OK);
    EXPECT_EQ(hr, batch[1].Result);
    EXPECT_TRUE(attributesOf(root + "/dir") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(attributesOf(root + "/dir") & FILE_ATTRIBUTE_OFFLINE);

    const std::string outside = makeScratchDir("outside");
    EXPECT_EQ(createPlaceholder(outside, "f", 1, id), static_cast<HRESULT>(0x80070186));
    std::string tooLong(4098, 'i');
    EXPECT_EQ(createPlaceholder(root, "big-id", 1, tooLong), E_INVALIDARG);
    const std::string full = registeredRoot("full", CF_HYDRATION_POLICY_ALWAYS_FULL);
    EXPECT_EQ(createPlaceholder(full, "x", 10, id), static_cast<HRESULT>(0x8007017B));
}

TEST_F(CloudFilesPlaceholder, ConvertKeepsTheDataAndTakesHardLinksWhereTheRootAllowsThem) {
    writeFile(root + "/doc.txt", "hello world");
    {
        Handle handle(root + "/doc.txt");
        USN usn = 0;
        ASSERT_EQ(CfConvertToPlaceholder(handle.get(), "doc", 3, CF_CONVERT_FLAG_MARK_IN_SYNC, &usn, nullptr), S_OK);
        EXPECT_NE(usn, 0);
    }
    EXPECT_EQ(readFile(root + "/doc.txt"), "hello world");
    const DWORD attributes = attributesOf(root + "/doc.txt");
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_FALSE(attributes & (FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS));
    EXPECT_EQ(placeholderInfo(root + "/doc.txt").identity, "doc");

    const std::string outside = makeScratchDir("outside");
    writeFile(outside + "/o.txt", "o");
    Handle out(outside + "/o.txt");
    EXPECT_EQ(CfConvertToPlaceholder(out.get(), "o", 1, CF_CONVERT_FLAG_NONE, nullptr, nullptr),
              static_cast<HRESULT>(0x80070186));

    // A file with hard links is refused under the usual policy (the hard-link repair tests meet
    // that refusal); a root whose policy allows hard links converts them.
    const std::string permissive = registeredRoot("links", CF_HYDRATION_POLICY_FULL, CF_HARDLINK_POLICY_ALLOWED);
    writeFile(permissive + "/a", "a");
    ASSERT_EQ(::link((permissive + "/a").c_str(), (permissive + "/b").c_str()), 0);
    Handle handle(permissive + "/a");
    EXPECT_EQ(CfConvertToPlaceholder(handle.get(), "a", 1, CF_CONVERT_FLAG_NONE, nullptr, nullptr), S_OK);
}

TEST_F(CloudFilesPlaceholder, RecordFollowsARenameButNotADeleteAndRecreate) {
    ASSERT_EQ(createPlaceholder(root, "old.txt", 10, identityOf(u"moving")), S_OK);
    ASSERT_EQ(std::rename((root + "/old.txt").c_str(), (root + "/new.txt").c_str()), 0);
    EXPECT_EQ(placeholderInfo(root + "/new.txt").identity, identityOf(u"moving"));

    ASSERT_EQ(std::remove((root + "/new.txt").c_str()), 0);
    writeFile(root + "/new.txt", "fresh");
    EXPECT_EQ(placeholderInfo(root + "/new.txt").hr, static_cast<HRESULT>(0x80070178));
    EXPECT_FALSE(attributesOf(root + "/new.txt") & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_F(CloudFilesPlaceholder, TheProvidersOpenHandleFollowsItsItemWhereverItGoes) {
    RecordingProvider provider(root);  // this process then reaches the root's items directly
    const std::string sub = root + "/sub";
    const std::string outside = makeScratchDir("outside");
    ASSERT_EQ(::mkdir(sub.c_str(), 0777), 0);
    struct Case {
        const char* name;
        std::string movedTo;
        bool replaced;  // a new placeholder takes the old name
        HRESULT pinned;
    };
    for (const Case& c : {Case{"renamed", sub + "/renamed", false, S_OK}, Case{"replaced", sub + "/other", true, S_OK},
                          Case{"away", outside + "/away", false, static_cast<HRESULT>(0x80070186)}}) {
        const std::string path = root + "/" + c.name;
        ASSERT_EQ(createPlaceholder(root, c.name, 10, identityOf(u"moving")), S_OK);
        Handle handle(path);
        ASSERT_EQ(std::rename(path.c_str(), c.movedTo.c_str()), 0);
        if (c.replaced) {
            ASSERT_EQ(createPlaceholder(root, c.name, 10, identityOf(u"new")), S_OK);
        }
        EXPECT_EQ(CfSetPinState(handle.get(), CF_PIN_STATE_PINNED, CF_SET_PIN_FLAG_NONE, nullptr), c.pinned) << c.name;
        BY_HANDLE_FILE_INFORMATION seen{};
        ASSERT_TRUE(GetFileInformationByHandle(handle.get(), &seen));
        EXPECT_EQ((seen.dwFileAttributes & FILE_ATTRIBUTE_PINNED) != 0, SUCCEEDED(c.pinned)) << c.name;
        if (SUCCEEDED(c.pinned)) {
            EXPECT_EQ(placeholderInfo(c.movedTo).pin, CF_PIN_STATE_PINNED) << c.name;
        }
        if (c.replaced) {
            EXPECT_EQ(placeholderInfo(path).pin, CF_PIN_STATE_UNSPECIFIED);
        }
    }
}

TEST_F(CloudFilesPlaceholder, PinStatesShowAsAttributesAndInheritFollowsTheParent) {
    ASSERT_EQ(createPlaceholder(root, "dir", 0, identityOf(u"d"), CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC, true), S_OK);
    ASSERT_EQ(createPlaceholder(root + "/dir", "f", 5, identityOf(u"f")), S_OK);
    ASSERT_EQ(
        createPlaceholder(root + "/dir", "sub", 0, identityOf(u"s"), CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC, true),
        S_OK);
    ASSERT_EQ(setPin(root + "/dir", CF_PIN_STATE_UNPINNED), S_OK);
    EXPECT_TRUE(attributesOf(root + "/dir") & FILE_ATTRIBUTE_UNPINNED);
    // Inheriting from an unpinned folder: a file stays unspecified, a folder becomes unpinned.
    ASSERT_EQ(setPin(root + "/dir/f", CF_PIN_STATE_INHERIT), S_OK);
    ASSERT_EQ(setPin(root + "/dir/sub", CF_PIN_STATE_INHERIT), S_OK);
    EXPECT_EQ(placeholderInfo(root + "/dir/f").pin, CF_PIN_STATE_UNSPECIFIED);
    EXPECT_EQ(placeholderInfo(root + "/dir/sub").pin, CF_PIN_STATE_UNPINNED);
    ASSERT_EQ(setPin(root + "/dir", CF_PIN_STATE_PINNED, CF_SET_PIN_FLAG_RECURSE_ONLY), S_OK);
    EXPECT_EQ(placeholderInfo(root + "/dir").pin, CF_PIN_STATE_UNPINNED);
    EXPECT_EQ(placeholderInfo(root + "/dir/f").pin, CF_PIN_STATE_PINNED);
    EXPECT_TRUE(attributesOf(root + "/dir/f") & FILE_ATTRIBUTE_PINNED);
    EXPECT_FALSE(attributesOf(root + "/dir/f") & FILE_ATTRIBUTE_UNPINNED);
    ASSERT_EQ(setPin(root + "/dir", CF_PIN_STATE_EXCLUDED, CF_SET_PIN_FLAG_RECURSE), S_OK);
    EXPECT_EQ(placeholderInfo(root + "/dir/sub").pin, CF_PIN_STATE_EXCLUDED);
    const DWORD excluded = attributesOf(root + "/dir/f");
    EXPECT_EQ(excluded & (FILE_ATTRIBUTE_PINNED | FILE_ATTRIBUTE_UNPINNED),
              FILE_ATTRIBUTE_PINNED | FILE_ATTRIBUTE_UNPINNED);
    EXPECT_EQ(setPin(root + "/dir/f", static_cast<CF_PIN_STATE>(9)), E_INVALIDARG);
}

TEST_F(CloudFilesPlaceholder, DehydrationPunchesTheDataKeepsTheSizeAndIsRefusedWhenPinned) {
    const std::string content(3 * 4096 + 10, 'z');
    writeFile(root + "/big.bin", content);
    Handle handle(root + "/big.bin");
    ASSERT_EQ(CfConvertToPlaceholder(handle.get(), "b", 1, CF_CONVERT_FLAG_MARK_IN_SYNC, nullptr, nullptr), S_OK);
    ASSERT_GT(allocatedBytes(root + "/big.bin"), 0);

    ASSERT_EQ(CfSetPinState(handle.get(), CF_PIN_STATE_PINNED, CF_SET_PIN_FLAG_NONE, nullptr), S_OK);
    EXPECT_EQ(updateFlags(handle.get(), CF_UPDATE_FLAG_DEHYDRATE), static_cast<HRESULT>(0x80070188));
    EXPECT_EQ(readFile(root + "/big.bin"), content);
    EXPECT_EQ(updateFlags(handle.get(), CF_UPDATE_FLAG_ALWAYS_FULL | CF_UPDATE_FLAG_ALLOW_PARTIAL),
              static_cast<HRESULT>(0x8007017C));

    ASSERT_EQ(CfSetPinState(handle.get(), CF_PIN_STATE_UNPINNED, CF_SET_PIN_FLAG_NONE, nullptr), S_OK);
    USN cleared = 0;
    USN clearedAgain = 0;
    ASSERT_EQ(CfSetInSyncState(handle.get(), CF_IN_SYNC_STATE_NOT_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE, &cleared), S_OK);
    ASSERT_EQ(CfSetInSyncState(handle.get(), CF_IN_SYNC_STATE_NOT_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE, &clearedAgain),
              S_OK);
    EXPECT_EQ(clearedAgain, cleared);  // a mark already set changes nothing
    EXPECT_EQ(updateFlags(handle.get(), CF_UPDATE_FLAG_DEHYDRATE), static_cast<HRESULT>(0x80070179));
    CF_FILE_RANGE range{};
    range.StartingOffset.QuadPart = 0;
    range.Length.QuadPart = CF_EOF;
    ASSERT_EQ(CfUpdatePlaceholder(handle.get(), nullptr, nullptr, 0, &range, 1,
                                  CF_UPDATE_FLAG_MARK_IN_SYNC | CF_UPDATE_FLAG_DEHYDRATE, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(allocatedBytes(root + "/big.bin"), 0);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(wide(root + "/big.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, content.size());
    EXPECT_EQ(data.dwFileAttributes & kDehydratedBits, kDehydratedBits);
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_UNPINNED);
}

TEST_F(CloudFilesPlaceholder, PlaceholderCallsRefuseAnOrdinaryFileWithNotAPlaceholder) {
    writeFile(root + "/plain.txt", "p");
    Handle plain(root + "/plain.txt");
    constexpr HRESULT kNotAPlaceholder = static_cast<HRESULT>(0x80070178);
    EXPECT_EQ(placeholderInfo(root + "/plain.txt").hr, kNotAPlaceholder);
    EXPECT_EQ(CfSetPinState(plain.get(), CF_PIN_STATE_PINNED, CF_SET_PIN_FLAG_NONE, nullptr), kNotAPlaceholder);
    EXPECT_EQ(CfSetInSyncState(plain.get(), CF_IN_SYNC_STATE_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE, nullptr),
              kNotAPlaceholder);
    EXPECT_EQ(updateFlags(plain.get(), CF_UPDATE_FLAG_MARK_IN_SYNC), kNotAPlaceholder);
}

// The process holding the oplock may open the file again for its attributes.
TEST_F(CloudFilesPlaceholder, DehydrationThroughAnExclusiveOplockHandleKeepsItsOplock) {
    ASSERT_EQ(localPlaceholder(root + "/held.bin", std::string(8192, 'h')), S_OK);
    HANDLE oplock = INVALID_HANDLE_VALUE;
    ASSERT_EQ(CfOpenFileWithOplock(wide(root + "/held.bin").c_str(), CF_OPEN_FILE_FLAG_EXCLUSIVE, &oplock), S_OK);
    Handle again(root + "/held.bin");
    ASSERT_TRUE(again.valid());
    EXPECT_EQ(updateFlags(CfGetWin32HandleFromProtectedHandle(oplock),
                          CF_UPDATE_FLAG_MARK_IN_SYNC | CF_UPDATE_FLAG_DEHYDRATE),
              S_OK);
    EXPECT_EQ(::fcntl(nimbrel::platform::fileForHandle(oplock)->fd, F_GETLEASE), F_WRLCK);
    CfCloseHandle(oplock);
    EXPECT_EQ(allocatedBytes(root + "/held.bin"), 0);
}

TEST_F(CloudFilesPlaceholder, OnlyDataAndDeleteOpensBreakAnExclusiveOplock) {
    struct Case {
        DWORD access;
        bool breaks;
    };
    const std::vector<Case> cases = {
        {FILE_READ_ATTRIBUTES, false}, {GENERIC_READ, true}, {FILE_READ_ATTRIBUTES | DELETE, true}};
    ASSERT_EQ(localPlaceholder(root + "/leased.bin", std::string(8192, 'l')), S_OK);
    for (const auto& c : cases) {
        HANDLE oplock = INVALID_HANDLE_VALUE;
        ASSERT_EQ(CfOpenFileWithOplock(wide(root + "/leased.bin").c_str(), CF_OPEN_FILE_FLAG_EXCLUSIVE, &oplock), S_OK);
        const int leased = nimbrel::platform::fileForHandle(oplock)->fd;
        {
            Handle other(root + "/leased.bin", c.access);
            ASSERT_TRUE(other.valid()) << std::hex << c.access;
        }
        EXPECT_EQ(::fcntl(leased, F_GETLEASE) == F_UNLCK, c.breaks) << std::hex << c.access;
        CfCloseHandle(oplock);
    }
}

TEST_F(CloudFilesPlaceholder, DehydrationThatFreesNothingLeavesThePlaceholderHydrated) {
    ASSERT_EQ(localPlaceholder(root + "/stuck.bin", std::string(8192, 's')), S_OK);
    // An immutable file can be neither opened for writing nor punched.
    int fd = ::open((root + "/stuck.bin").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int flags = 0;
    ASSERT_EQ(::ioctl(fd, FS_IOC_GETFLAGS, &flags), 0);
    flags |= FS_IMMUTABLE_FL;
    if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
        ::close(fd);
        GTEST_SKIP() << "this file system keeps no immutable flag";
    }
    {
        Handle handle(root + "/stuck.bin", GENERIC_READ);
        EXPECT_NE(updateFlags(handle.get(), CF_UPDATE_FLAG_DEHYDRATE), S_OK);
    }
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    EXPECT_FALSE(attributesOf(root + "/stuck.bin") & FILE_ATTRIBUTE_OFFLINE);
    EXPECT_EQ(readFile(root + "/stuck.bin"), std::string(8192, 's'));
}

TEST_F(CloudFilesPlaceholder, OplockOpenIsRefusedWhileAnotherProcessHasTheFileOpen) {
    writeFile(root + "/locked.txt", "content");
    HANDLE handle = INVALID_HANDLE_VALUE;
    ASSERT_EQ(CfOpenFileWithOplock(wide(root + "/locked.txt").c_str(), CF_OPEN_FILE_FLAG_EXCLUSIVE, &handle), S_OK);
    // Another process opening the file breaks the oplock instead of waiting for it.
    auto reader = runCommand("/bin/cat", {root + "/locked.txt"}, {}, std::chrono::seconds(30));
    EXPECT_EQ(reader.exitCode, 0);
    EXPECT_EQ(reader.out, "content");
    CfCloseHandle(handle);

    ChildProcess holder("/bin/sh", {"-c", "exec 3<\"$0\"; echo open; exec sleep 60", root + "/locked.txt"});
    ASSERT_TRUE(waitUntil([&] { return holder.out().find("open") != std::string::npos; }));
    EXPECT_EQ(CfOpenFileWithOplock(wide(root + "/locked.txt").c_str(), CF_OPEN_FILE_FLAG_EXCLUSIVE, &handle),
              static_cast<HRESULT>(0x80070020));
    holder.signal(SIGKILL);
    ASSERT_TRUE(holder.wait().has_value());
    ASSERT_EQ(CfOpenFileWithOplock(wide(root + "/locked.txt").c_str(), CF_OPEN_FILE_FLAG_EXCLUSIVE, &handle), S_OK);
    CfCloseHandle(handle);
    HANDLE missing = nullptr;
    EXPECT_EQ(CfOpenFileWithOplock(wide(root + "/missing").c_str(), CF_OPEN_FILE_FLAG_NONE, &missing),
              static_cast<HRESULT>(0x80070002));
}

}  // namespace
}  // namespace nimbrel::test::cf
