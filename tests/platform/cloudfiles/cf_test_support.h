#pragma once
// Shared helpers of the Cloud Files stand-in tests: roots, handles, placeholders, and an in-process
// provider whose callbacks record what the filter delivers.

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/cfapi.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {

std::wstring wide(const std::string& hostPath);
// A fresh folder registered as a sync root with the given hydration policy (a failure fails the test).
std::string registeredRoot(const std::string& name, CF_HYDRATION_POLICY_PRIMARY hydration = CF_HYDRATION_POLICY_FULL,
                           CF_HARDLINK_POLICY hardLinks = CF_HARDLINK_POLICY_NONE);
HRESULT registerRoot(const std::string& path, CF_HYDRATION_POLICY_PRIMARY hydration = CF_HYDRATION_POLICY_FULL,
                     CF_HARDLINK_POLICY hardLinks = CF_HARDLINK_POLICY_NONE);
// The identity blob Nimbrel uses: UTF-16 text with its terminating NUL.
std::string identityOf(const std::u16string& text);
// `created` 0 leaves the creation time to the filter.
HRESULT createPlaceholder(const std::string& dir, const std::string& name, std::int64_t size,
                          const std::string& identity,
                          CF_PLACEHOLDER_CREATE_FLAGS flags = CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC,
                          bool directory = false, LONGLONG created = 0);
// Writes `content` to a new file below a root and converts it to an in-sync placeholder.
HRESULT localPlaceholder(const std::string& path, const std::string& content, const std::string& identity = "id");

// CfUpdatePlaceholder with flags only: no metadata, identity or ranges.
HRESULT updateFlags(HANDLE handle, CF_UPDATE_FLAGS flags);
// CfUpdatePlaceholder with new metadata only, through a handle of its own.
HRESULT updateMetadata(const std::string& path, const CF_FS_METADATA& metadata);

// A file handle closed when the owner goes.
class Handle {
public:
    explicit Handle(const std::string& path, DWORD access = FILE_READ_ATTRIBUTES);
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

struct BasicInfo {
    HRESULT hr = E_FAIL;
    CF_PIN_STATE pin = CF_PIN_STATE_UNSPECIFIED;
    CF_IN_SYNC_STATE inSync = CF_IN_SYNC_STATE_NOT_IN_SYNC;
    std::string identity;
};
BasicInfo placeholderInfo(const std::string& path);
DWORD attributesOf(const std::string& path);
// The allocation size a Windows program reads for the file; -1 when it cannot be read.
std::int64_t allocatedBytes(const std::string& path);

// What a callback saw, copied out of the filter's buffers.
struct CallbackRecord {
    CF_CALLBACK_TYPE type = CF_CALLBACK_TYPE_NONE;
    CF_CONNECTION_KEY connectionKey{};
    CF_TRANSFER_KEY transferKey{};
    std::int64_t fileSize = 0;
    std::string identity;
    std::wstring normalizedPath;
    std::wstring volumeDosName;
    DWORD processId = 0;
    std::wstring imagePath;
    std::int64_t requiredOffset = 0;
    std::int64_t requiredLength = 0;
    CF_CALLBACK_CANCEL_FLAGS cancelFlags = CF_CALLBACK_CANCEL_FLAG_NONE;
    std::int64_t cancelOffset = 0;
    std::int64_t cancelLength = 0;
};

// Connects a root (a failed connect fails the test) with every callback recorded; a handler may answer
// FETCH_DATA on the callback thread.
class RecordingProvider {
public:
    using Handler = std::function<void(const CallbackRecord&)>;
    explicit RecordingProvider(const std::string& root, Handler onFetch = {});
    ~RecordingProvider();
    CF_CONNECTION_KEY key() const { return key_; }
    HRESULT disconnect();
    // Waits (bounded) until `count` callbacks of `type` arrived; answers whether they did.
    bool waitFor(CF_CALLBACK_TYPE type, std::size_t count);
    std::vector<CallbackRecord> records(CF_CALLBACK_TYPE type);

    static void record(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params, CF_CALLBACK_TYPE type);

private:
    CF_CONNECTION_KEY key_{};
    bool connected_ = false;
};

// The TRANSFER_DATA operation of the given bytes (null buffer with a failure status), for tests that alter it.
void transferOperation(const CallbackRecord& request, std::int64_t offset, std::int64_t length, const void* data,
                       NTSTATUS status, CF_OPERATION_INFO& op, CF_OPERATION_PARAMETERS& params);
// Executes that operation.
HRESULT transfer(const CallbackRecord& request, std::int64_t offset, std::int64_t length, const void* data,
                 NTSTATUS status = STATUS_SUCCESS);

// A test on a fresh registered root.
class RegisteredRootTest : public testing::Test {
protected:
    std::string root = registeredRoot("root");
};

// A registered root, a folder standing for the cloud, and cf_test_provider started in another process.
class ProviderProcessTest : public RegisteredRootTest {
protected:
    // Starts `cf_test_provider ROOT CLOUD MODE ARGUMENT` and waits until it is connected.
    std::unique_ptr<ChildProcess> startProvider(const std::string& mode, const std::string& argument,
                                                const ChildProcess::Options& options = {});
    // A dehydrated placeholder whose cloud copy holds `size` pseudo-random bytes; answers those bytes.
    std::string cloudFile(const std::string& name, std::size_t size);
    std::string tool() const { return appDir() + "/nimbrel-cf"; }
    // What `nimbrel-cf info` says of one item (a failure of the tool fails the test).
    rapidjson::Document info(const std::string& path);

    std::string cloud = makeScratchDir("cloud");
};

}  // namespace nimbrel::test::cf
