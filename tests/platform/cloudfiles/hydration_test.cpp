// The filter core inside the provider's process: fetch requests, transfers, failures, time-outs,
// concurrency and progress, driven through its in-process interface.

#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <future>

#include "cf_application.h"
#include "cf_connection.h"
#include "cf_item.h"
#include "cf_record_codec.h"
#include "cf_test_support.h"
#include "platform/platform_paths.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

namespace pcf = nimbrel::platform::cf;

const pcf::Requester kViewer{4242, "/usr/bin/viewer", "viewer file"};

class CloudFilesHydration : public RegisteredRootTest {
protected:
    std::future<NTSTATUS> request(const std::string& path, pcf::ProgressSink progress = {}) {
        auto core = pcf::filterCoreFor(root);
        return std::async(std::launch::async, [core, path, progress] {
            return core ? core->requestData(path, 0, CF_EOF, kViewer, progress) : STATUS_UNSUCCESSFUL;
        });
    }
};

TEST_F(CloudFilesHydration, FetchCarriesTheRequestAndCompletesOnlyWhenEveryByteArrived) {
    ASSERT_EQ(createPlaceholder(root, "doc.bin", 10000, identityOf(u"doc")), S_OK);
    const std::string path = root + "/doc.bin";
    RecordingProvider provider(root);
    auto done = request(path);
    ASSERT_TRUE(provider.waitFor(CF_CALLBACK_TYPE_FETCH_DATA, 1));
    const auto fetch = provider.records(CF_CALLBACK_TYPE_FETCH_DATA).front();
    EXPECT_EQ(fetch.connectionKey.Internal, provider.key().Internal);
    EXPECT_EQ(fetch.normalizedPath, wide(path));
    EXPECT_EQ(fetch.volumeDosName, L"");
    EXPECT_EQ(fetch.processId, 4242u);
    EXPECT_EQ(fetch.imagePath, L"\\usr\\bin\\viewer");
    EXPECT_EQ(fetch.fileSize, 10000);
    EXPECT_EQ(fetch.identity, identityOf(u"doc"));
    EXPECT_EQ(fetch.requiredOffset, 0);
    EXPECT_EQ(fetch.requiredLength, 10000);

    const std::string content(10000, 'c');
    EXPECT_EQ(transfer(fetch, 100, 4096, content.data()), static_cast<HRESULT>(0x8007017C));
    EXPECT_EQ(transfer(fetch, 4096, 1000, content.data()), static_cast<HRESULT>(0x8007017C));
    ASSERT_EQ(transfer(fetch, 0, 4096, content.data()), S_OK);
    EXPECT_EQ(done.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_TRUE(attributesOf(path) & FILE_ATTRIBUTE_OFFLINE);
    ASSERT_EQ(transfer(fetch, 4096, 5904, content.data() + 4096), S_OK);
    EXPECT_EQ(done.get(), STATUS_SUCCESS);
    EXPECT_EQ(readFile(path), content);
    EXPECT_FALSE(attributesOf(path) & (FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS));
    EXPECT_TRUE(attributesOf(path) & FILE_ATTRIBUTE_REPARSE_POINT);
    // A late piece for a file that is complete is accepted and changes nothing.
    const std::string filler(4096, 'U');
    EXPECT_EQ(transfer(fetch, 0, 4096, filler.data()), S_OK);
    EXPECT_EQ(readFile(path), content);
}

TEST_F(CloudFilesHydration, AReadOnlyPlaceholderIsHydratedAndStaysReadOnly) {
    ASSERT_EQ(createPlaceholder(root, "ro", 4096, identityOf(u"ro")), S_OK);
    const std::string path = root + "/ro";
    ASSERT_TRUE(SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string data(4096, 'r');
    RecordingProvider provider(root, [&](const CallbackRecord& fetch) { transfer(fetch, 0, 4096, data.data()); });
    EXPECT_EQ(request(path).get(), STATUS_SUCCESS);
    EXPECT_EQ(readFile(path), data);
    EXPECT_TRUE(attributesOf(path) & FILE_ATTRIBUTE_READONLY);
    Handle handle(path);
    ASSERT_EQ(updateFlags(handle.get(), CF_UPDATE_FLAG_MARK_IN_SYNC | CF_UPDATE_FLAG_DEHYDRATE), S_OK);
    EXPECT_EQ(allocatedBytes(path), 0);
}

TEST_F(CloudFilesHydration, ProviderFailuresReachTheRequesterAsCloudFileStatuses) {
    ASSERT_EQ(createPlaceholder(root, "a", 5000, identityOf(u"a")), S_OK);
    RecordingProvider provider(root, [](const CallbackRecord& fetch) {
        transfer(fetch, 0, 4096, nullptr,
                 fetch.identity == identityOf(u"a") ? STATUS_CLOUD_FILE_IN_USE : STATUS_UNSUCCESSFUL);
    });
    EXPECT_EQ(request(root + "/a").get(), STATUS_CLOUD_FILE_IN_USE);
    ASSERT_EQ(createPlaceholder(root, "b", 5000, identityOf(u"b")), S_OK);
    EXPECT_EQ(request(root + "/b").get(), STATUS_CLOUD_FILE_UNSUCCESSFUL);
    EXPECT_TRUE(attributesOf(root + "/b") & FILE_ATTRIBUTE_OFFLINE);
    const auto failed = provider.records(CF_CALLBACK_TYPE_FETCH_DATA).back();
    const std::string data(4096, 'd');
    EXPECT_TRUE(FAILED(transfer(failed, 0, 4096, data.data())));
}

TEST_F(CloudFilesHydration, SilentProviderIsCancelledWithATimeoutAndTheRequesterFails) {
    ASSERT_EQ(createPlaceholder(root, "slow", 8192, identityOf(u"slow")), S_OK);
    pcf::setFetchTimeout(std::chrono::milliseconds(200));
    RecordingProvider provider(root);
    EXPECT_EQ(request(root + "/slow").get(), STATUS_CLOUD_FILE_REQUEST_TIMEOUT);
    ASSERT_TRUE(provider.waitFor(CF_CALLBACK_TYPE_CANCEL_FETCH_DATA, 1));
    const auto fetch = provider.records(CF_CALLBACK_TYPE_FETCH_DATA).front();
    const auto cancel = provider.records(CF_CALLBACK_TYPE_CANCEL_FETCH_DATA).front();
    EXPECT_EQ(cancel.transferKey.QuadPart, fetch.transferKey.QuadPart);
    EXPECT_EQ(cancel.cancelFlags, CF_CALLBACK_CANCEL_FLAG_IO_TIMEOUT);
    EXPECT_EQ(cancel.cancelOffset, 0);
    EXPECT_EQ(cancel.cancelLength, 8192);
    EXPECT_EQ(cancel.identity, identityOf(u"slow"));
}

TEST_F(CloudFilesHydration, ASecondReaderWaitsForTheSameFetchAndHearsItsProgress) {
    ASSERT_EQ(createPlaceholder(root, "shared", 8192, identityOf(u"shared")), S_OK);
    RecordingProvider provider(root);
    auto first = request(root + "/shared");
    ASSERT_TRUE(provider.waitFor(CF_CALLBACK_TYPE_FETCH_DATA, 1));
    std::atomic<bool> joined{false};
    std::atomic<std::int64_t> reportedTotal{0}, reportedCompleted{-1};
    auto second = request(root + "/shared", [&](std::int64_t total, std::int64_t completed) {
        reportedTotal = total;
        reportedCompleted = completed;
        joined = true;
    });
    const auto fetch = provider.records(CF_CALLBACK_TYPE_FETCH_DATA).front();
    // Only a reader waiting for this fetch hears its progress.
    LARGE_INTEGER total{}, completed{};
    total.QuadPart = 8192;
    completed.QuadPart = 4096;
    ASSERT_TRUE(waitUntil([&] {
        EXPECT_EQ(CfReportProviderProgress(fetch.connectionKey, fetch.transferKey, total, completed), S_OK);
        return joined.load();
    }));
    EXPECT_EQ(reportedTotal.load(), 8192);
    EXPECT_EQ(reportedCompleted.load(), 4096);
    const std::string data(8192, 's');
    ASSERT_EQ(transfer(fetch, 0, 8192, data.data()), S_OK);
    EXPECT_EQ(first.get(), STATUS_SUCCESS);
    EXPECT_EQ(second.get(), STATUS_SUCCESS);
    EXPECT_EQ(provider.records(CF_CALLBACK_TYPE_FETCH_DATA).size(), 1u);
}

TEST_F(CloudFilesHydration, ADehydrationCancelsTheFetchOnItsWaySoThatItsLatePiecesNeverCompleteTheFile) {
    ASSERT_EQ(createPlaceholder(root, "busy.bin", 8192, identityOf(u"busy")), S_OK);
    const std::string path = root + "/busy.bin";
    RecordingProvider provider(root);
    auto done = request(path);
    ASSERT_TRUE(provider.waitFor(CF_CALLBACK_TYPE_FETCH_DATA, 1));
    const auto fetch = provider.records(CF_CALLBACK_TYPE_FETCH_DATA).front();
    const std::string content(8192, 'b');
    ASSERT_EQ(transfer(fetch, 0, 4096, content.data()), S_OK);
    {
        Handle handle(path);
        ASSERT_EQ(updateFlags(handle.get(), CF_UPDATE_FLAG_MARK_IN_SYNC | CF_UPDATE_FLAG_DEHYDRATE), S_OK);
    }
    EXPECT_EQ(done.get(), STATUS_CLOUD_FILE_REQUEST_ABORTED);
    EXPECT_TRUE(provider.waitFor(CF_CALLBACK_TYPE_CANCEL_FETCH_DATA, 1));
    EXPECT_EQ(transfer(fetch, 4096, 4096, content.data() + 4096), static_cast<HRESULT>(0x8007018E));
    EXPECT_TRUE(attributesOf(path) & FILE_ATTRIBUTE_OFFLINE);
}

// The reader is served once the bytes are in the page cache, which a killed provider leaves whole;
// across a restart of the machine only a claim made after the bytes were flushed holds.
TEST_F(CloudFilesHydration, AHydrationClaimOutlivesARestartOnlyOnceItsBytesWereFlushed) {
    ASSERT_EQ(createPlaceholder(root, "kept.bin", 4096, identityOf(u"kept")), S_OK);
    const std::string path = root + "/kept.bin";
    RecordingProvider provider(root);
    auto done = request(path);
    ASSERT_TRUE(provider.waitFor(CF_CALLBACK_TYPE_FETCH_DATA, 1));
    const std::string content(4096, 'k');
    ASSERT_EQ(transfer(provider.records(CF_CALLBACK_TYPE_FETCH_DATA).front(), 0, 4096, content.data()), S_OK);
    EXPECT_EQ(done.get(), STATUS_SUCCESS);
    auto store = pcf::CfStore::current();
    const pcf::RecordFile file = pcf::recordFileOf(*pcf::resolveItem(*store, path));
    EXPECT_TRUE(pcf::readRecord(file)->hydrated);
    EXPECT_TRUE(pcf::readRecord(file)->dataSynced);

    struct Case {
        bool synced;
        bool restarted;
        bool hydrated;
    };
    for (const Case& c :
         {Case{true, false, true}, Case{true, true, true}, Case{false, false, true}, Case{false, true, false}}) {
        pcf::updateRecord(file, [&](pcf::PlaceholderRecord& record) {
            record.hydrated = true;
            record.dataSynced = c.synced;
            return true;
        });
        // Another boot: a claim not flushed carries the tag of a boot that is not this one.
        if (c.restarted) {
            char value[256];
            const ssize_t n = ::getxattr(path.c_str(), pcf::kRecordAttribute, value, sizeof(value));
            ASSERT_GT(n, 0);
            std::string bytes(value, static_cast<std::size_t>(n));
            const auto tag = static_cast<std::uint32_t>(pcf::bootHash());
            const auto at = bytes.find(std::string(reinterpret_cast<const char*>(&tag), sizeof(tag)));
            ASSERT_EQ(at == std::string::npos, c.synced);
            if (at != std::string::npos) bytes[at] ^= 1;
            ASSERT_EQ(::setxattr(path.c_str(), pcf::kRecordAttribute, bytes.data(), bytes.size(), 0), 0);
        }
        EXPECT_EQ(pcf::readRecord(file)->hydrated, c.hydrated) << c.synced << c.restarted;
    }
}

TEST_F(CloudFilesHydration, TheProvidersOwnReadsNeverHydrate) {
    ASSERT_EQ(createPlaceholder(root, "own", 100, identityOf(u"own")), S_OK);
    writeFile(root + "/plain.txt", "plain");
    EXPECT_EQ(pcf::applicationRead(root + "/own"), static_cast<DWORD>(ERROR_CLOUD_FILE_PROVIDER_NOT_RUNNING));
    RecordingProvider provider(root);
    EXPECT_EQ(pcf::applicationRead(root + "/own"), static_cast<DWORD>(ERROR_CLOUD_FILE_ACCESS_DENIED));
    EXPECT_EQ(pcf::applicationRead(root + "/plain.txt"), static_cast<DWORD>(ERROR_SUCCESS));
    const pcf::Requester self{static_cast<DWORD>(::getpid()), "/proc/self/exe", ""};
    EXPECT_EQ(pcf::filterCoreFor(root)->requestData(root + "/own", 0, CF_EOF, self), STATUS_CLOUD_FILE_ACCESS_DENIED);
    EXPECT_TRUE(provider.records(CF_CALLBACK_TYPE_FETCH_DATA).empty());
}

TEST_F(CloudFilesHydration, DisconnectFailsPendingRequestsAndLaterRequestsFindNoProvider) {
    ASSERT_EQ(createPlaceholder(root, "d", 100, identityOf(u"d")), S_OK);
    RecordingProvider provider(root);
    auto pending = request(root + "/d");
    ASSERT_TRUE(provider.waitFor(CF_CALLBACK_TYPE_FETCH_DATA, 1));
    ASSERT_EQ(provider.disconnect(), S_OK);
    EXPECT_EQ(pending.get(), STATUS_CLOUD_FILE_PROVIDER_NOT_RUNNING);
    EXPECT_EQ(pcf::filterCoreFor(root), nullptr);
}

TEST_F(CloudFilesHydration, MalformedOperationsAreRefusedAndTheOlderOperationLayoutIsAccepted) {
    ASSERT_EQ(createPlaceholder(root, "m", 4096, identityOf(u"m")), S_OK);
    RecordingProvider provider(root);
    auto done = request(root + "/m");
    ASSERT_TRUE(provider.waitFor(CF_CALLBACK_TYPE_FETCH_DATA, 1));
    const auto fetch = provider.records(CF_CALLBACK_TYPE_FETCH_DATA).front();
    const std::string data(4096, 'm');

    CF_OPERATION_INFO op;
    CF_OPERATION_PARAMETERS params;
    transferOperation(fetch, 0, 4096, data.data(), STATUS_SUCCESS, op, params);
    EXPECT_EQ(CfExecute(nullptr, &params), E_INVALIDARG);
    using Spoil = std::function<void(CF_OPERATION_INFO&, CF_OPERATION_PARAMETERS&)>;
    const std::pair<Spoil, HRESULT> spoilt[] = {
        {[](auto& o, auto&) { o.StructSize = 8; }, E_INVALIDARG},
        {[](auto& o, auto&) { o.Type = CF_OPERATION_TYPE_ACK_DATA; }, static_cast<HRESULT>(0x8007017C)},
        {[](auto& o, auto&) { o.ConnectionKey.Internal += 1; }, E_INVALIDARG},
        {[](auto&, auto& p) { p.ParamSize = sizeof(ULONG); }, E_INVALIDARG},
        {[](auto&, auto& p) { p.TransferData.Flags = static_cast<CF_OPERATION_TRANSFER_DATA_FLAGS>(1); }, E_INVALIDARG},
        {[](auto&, auto& p) { p.TransferData.Buffer = nullptr; }, E_INVALIDARG},
    };
    for (std::size_t i = 0; i < std::size(spoilt); ++i) {
        auto badOp = op;
        auto badParams = params;
        spoilt[i].first(badOp, badParams);
        EXPECT_EQ(CfExecute(&badOp, &badParams), spoilt[i].second) << i;
    }

    LARGE_INTEGER total{}, completed{};
    total.QuadPart = 10;
    completed.QuadPart = 11;
    EXPECT_EQ(CfReportProviderProgress(fetch.connectionKey, fetch.transferKey, total, completed), E_INVALIDARG);
    CF_TRANSFER_KEY unknown{};
    unknown.QuadPart = 77;
    completed.QuadPart = 5;
    EXPECT_EQ(CfReportProviderProgress(fetch.connectionKey, unknown, total, completed), E_INVALIDARG);
    EXPECT_EQ(done.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    // A caller built for the layout without RequestKey passes that shorter size.
    op.StructSize = offsetof(CF_OPERATION_INFO, RequestKey);
    EXPECT_EQ(CfExecute(&op, &params), S_OK);
    EXPECT_EQ(done.get(), STATUS_SUCCESS);
    EXPECT_EQ(readFile(root + "/m"), data);
}

// Two stores of one database in a process (the platform home set to it again while the first is
// still used): the one that goes must leave SQLite's locks on the WAL index in place, or another
// process takes the index for unused and truncates it under the first one's mapping.
TEST_F(CloudFilesHydration, AStoreThatGoesLeavesTheLocksOfAnotherOnTheSameDatabase) {
    auto first = pcf::CfStore::current();
    ASSERT_TRUE(first);
    ASSERT_EQ(createPlaceholder(root, "one.bin", 100, identityOf(u"one")), S_OK);
    const std::string home = nimbrel::platform::platformHome();
    const std::string other = makeScratchDir("other-home");
    auto switchHome = [](const std::string& to) {
        ::setenv("NIMBREL_PLATFORM_HOME", to.c_str(), 1);
        return pcf::CfStore::current();
    };
    ASSERT_TRUE(switchHome(other));
    auto second = switchHome(home);
    ASSERT_TRUE(second);
    ASSERT_NE(second, first);
    ASSERT_TRUE(second->roots().size() == 1);
    second.reset();
    ASSERT_TRUE(switchHome(other));
    // The index's dead-man switch (byte 128) stays read-locked while a connection of this process is open.
    const auto probe = runCommand("/usr/bin/python3", {"-c",
                                                       "import fcntl,sys\n"
                                                       "f=open(sys.argv[1],'rb+')\n"
                                                       "try:\n    fcntl.lockf(f,fcntl.LOCK_EX|fcntl.LOCK_NB,1,128)\n"
                                                       "except OSError:\n    sys.exit(3)\n",
                                                       home + "/cloudfiles.db-shm"});
    EXPECT_EQ(probe.exitCode, 3) << probe.err;
    ::setenv("NIMBREL_PLATFORM_HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace nimbrel::test::cf
