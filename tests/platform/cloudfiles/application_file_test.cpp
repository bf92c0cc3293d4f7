// A program reading placeholders with the Win32 file functions, as any Windows application does:
// the provider (cf_test_provider, another process) hears of data opens and serves the reads.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "cf_test_support.h"
#include "platform/windows.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

class CloudFilesApplicationFiles : public ProviderProcessTest {
protected:
    static HANDLE open(const std::string& path, DWORD access, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
        return CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    }

    static bool openAndClose(const std::string& path, DWORD access, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
        HANDLE file = open(path, access, flags);
        return file != INVALID_HANDLE_VALUE && CloseHandle(file);
    }

    // Everything ReadFile gives in pieces of an odd size; the first failure's error in *error.
    static std::string readAll(HANDLE file, DWORD* error = nullptr) {
        std::string content;
        char buffer[70001];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
                if (error) *error = GetLastError();
                return content;
            }
            if (got == 0) return content;
            content.append(buffer, got);
        }
    }
};

TEST_F(CloudFilesApplicationFiles, ReadFileHydratesThroughTheProviderAndGetsTheExactBytes) {
    const std::string content = cloudFile("data.bin", 300000);
    auto provider = startProvider("serve", "65536");
    HANDLE file = open(root + "/data.bin", GENERIC_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string self = " pid=" + std::to_string(::getpid());
    EXPECT_TRUE(waitUntil([&] { return provider->out().find("open data.bin" + self) != std::string::npos; }))
        << provider->out();
    // The open handle still finds its placeholder after a rename.
    ASSERT_TRUE(MoveFileExW(wide(root + "/data.bin").c_str(), wide(root + "/moved.bin").c_str(), 0));
    DWORD error = ERROR_SUCCESS;
    EXPECT_TRUE(readAll(file, &error) == content);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(file);
    EXPECT_NE(provider->out().find("fetch data.bin" + self), std::string::npos) << provider->out();
    EXPECT_TRUE(readFile(root + "/moved.bin") == content);

    // Once local, the file is read without asking the provider again.
    file = open(root + "/moved.bin", GENERIC_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(readAll(file) == content);
    CloseHandle(file);
    EXPECT_EQ(occurrences(provider->out(), "fetch data.bin"), 1) << provider->out();
}

TEST_F(CloudFilesApplicationFiles, CopyFileCopiesTheCloudBytesOrFailsWithTheProvidersError) {
    const std::string content = cloudFile("copied.bin", 100000);
    const std::string copy = makeScratchDir("copies") + "/copy.bin";
    EXPECT_FALSE(CopyFileW(wide(root + "/copied.bin").c_str(), wide(copy).c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLOUD_FILE_PROVIDER_NOT_RUNNING));

    auto provider = startProvider("serve", "65536");
    ASSERT_TRUE(CopyFileW(wide(root + "/copied.bin").c_str(), wide(copy).c_str(), FALSE));
    EXPECT_TRUE(readFile(copy) == content);
    EXPECT_EQ(occurrences(provider->out(), "fetch copied.bin"), 1) << provider->out();
}

TEST_F(CloudFilesApplicationFiles, ReadFileFailsWithTheProvidersErrorAndReadsNothing) {
    cloudFile("f.bin", 10000);
    writeFile(root + "/plain.txt", "plain text");
    HANDLE file = open(root + "/f.bin", GENERIC_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[100];
    std::memset(buffer, 'x', sizeof buffer);
    DWORD got = 7;
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLOUD_FILE_PROVIDER_NOT_RUNNING));
    EXPECT_EQ(got, 0u);

    const struct {
        const char* status;
        DWORD error;
    } failures[] = {{"0xC000CF14", ERROR_CLOUD_FILE_IN_USE}, {"0xC000CF15", ERROR_CLOUD_FILE_PINNED}};
    for (const auto& failure : failures) {
        auto refusing = startProvider("fail", failure.status);
        EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
        EXPECT_EQ(GetLastError(), failure.error) << failure.status;
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
        EXPECT_NE(refusing->out().find("fetch f.bin"), std::string::npos) << refusing->out();
        refusing->signal(SIGKILL);
        ASSERT_TRUE(refusing->wait().has_value());
    }
    CloseHandle(file);

    // Ordinary files beside it read as always.
    HANDLE plain = open(root + "/plain.txt", GENERIC_READ);
    ASSERT_NE(plain, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readAll(plain), "plain text");
    CloseHandle(plain);
}

TEST_F(CloudFilesApplicationFiles, OnlyDataOpensOfPlaceholderFilesNotifyTheProvider) {
    const std::string content = cloudFile("quiet.bin", 5000);
    cloudFile("loud.bin", 5000);
    cloudFile("written.bin", 5000);
    ASSERT_EQ(
        createPlaceholder(root, "folder", 0, identityOf(u"folder"), CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC, true),
        S_OK);
    auto provider = startProvider("serve", "4096");
    for (DWORD access : {DWORD{0}, DWORD{FILE_READ_ATTRIBUTES}, DWORD{FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES}}) {
        EXPECT_TRUE(openAndClose(root + "/quiet.bin", access)) << access;
    }
    EXPECT_TRUE(openAndClose(root + "/quiet.bin", GENERIC_READ, FILE_FLAG_OPEN_REPARSE_POINT));
    EXPECT_TRUE(openAndClose(root + "/folder", GENERIC_READ, FILE_FLAG_BACKUP_SEMANTICS));
    EXPECT_TRUE(openAndClose(root + "/written.bin", GENERIC_WRITE));
    HANDLE loud = open(root + "/loud.bin", GENERIC_READ);
    ASSERT_NE(loud, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readAll(loud).size(), 5000u);
    CloseHandle(loud);
    EXPECT_TRUE(waitUntil([&] {
        const std::string out = provider->out();
        return out.find("open written.bin") != std::string::npos && out.find("open loud.bin") != std::string::npos;
    })) << provider->out();
    EXPECT_EQ(provider->out().find("open quiet.bin"), std::string::npos) << provider->out();
    EXPECT_EQ(provider->out().find("open folder"), std::string::npos) << provider->out();
    EXPECT_EQ(provider->out().find("fetch quiet.bin"), std::string::npos) << provider->out();
}

TEST_F(CloudFilesApplicationFiles, TheProvidersOwnFileReadsNeitherNotifyNorHydrate) {
    ASSERT_EQ(createPlaceholder(root, "own.bin", 100, identityOf(u"own.bin")), S_OK);
    RecordingProvider provider(root);
    HANDLE file = open(root + "/own.bin", GENERIC_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD error = ERROR_SUCCESS;
    EXPECT_EQ(readAll(file, &error), std::string(100, '\0'));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(file);
    EXPECT_TRUE(provider.records(CF_CALLBACK_TYPE_FETCH_DATA).empty());
    EXPECT_TRUE(provider.records(CF_CALLBACK_TYPE_NOTIFY_FILE_OPEN_COMPLETION).empty());
}

}  // namespace
}  // namespace nimbrel::test::cf
