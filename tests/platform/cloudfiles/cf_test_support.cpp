#include "cf_test_support.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/platform_paths.h"
#include "platform/windows.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {

namespace {

struct ProviderState {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<CallbackRecord> records;
    RecordingProvider::Handler onFetch;
};

ProviderState& state() {
    static ProviderState instance;
    return instance;
}

template <CF_CALLBACK_TYPE Type>
void CALLBACK onCallback(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params) {
    RecordingProvider::record(info, params, Type);
}

}  // namespace

std::wstring wide(const std::string& hostPath) { return nimbrel::platform::toWindowsPath(hostPath); }

HRESULT registerRoot(const std::string& path, CF_HYDRATION_POLICY_PRIMARY hydration, CF_HARDLINK_POLICY hardLinks) {
    CF_SYNC_REGISTRATION registration{};
    registration.StructSize = sizeof(registration);
    registration.ProviderName = L"TestProvider";
    registration.ProviderVersion = L"1.0";
    static const char rootIdentity[] = "root-identity";
    registration.SyncRootIdentity = rootIdentity;
    registration.SyncRootIdentityLength = sizeof(rootIdentity);
    CF_SYNC_POLICIES policies{};
    policies.StructSize = sizeof(policies);
    policies.Hydration.Primary = hydration;
    policies.Population.Primary = CF_POPULATION_POLICY_ALWAYS_FULL;
    policies.InSync = CF_INSYNC_POLICY_PRESERVE_INSYNC_FOR_SYNC_ENGINE;
    policies.HardLink = hardLinks;
    return CfRegisterSyncRoot(wide(path).c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE);
}

std::string registeredRoot(const std::string& name, CF_HYDRATION_POLICY_PRIMARY hydration,
                           CF_HARDLINK_POLICY hardLinks) {
    std::string root = makeScratchDir(name);
    EXPECT_EQ(registerRoot(root, hydration, hardLinks), S_OK) << root;
    return root;
}

std::string identityOf(const std::u16string& text) {
    std::u16string withNul = text + u'\0';
    return std::string(reinterpret_cast<const char*>(withNul.data()), withNul.size() * sizeof(char16_t));
}

HRESULT createPlaceholder(const std::string& dir, const std::string& name, std::int64_t size,
                          const std::string& identity, CF_PLACEHOLDER_CREATE_FLAGS flags, bool directory,
                          LONGLONG created) {
    const std::wstring wideName = nimbrel::platform::fromUtf8(name);
    CF_PLACEHOLDER_CREATE_INFO entry{};
    entry.RelativeFileName = wideName.c_str();
    entry.FsMetadata.FileSize.QuadPart = size;
    entry.FsMetadata.BasicInfo.FileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    entry.FsMetadata.BasicInfo.CreationTime.QuadPart = created;
    entry.FsMetadata.BasicInfo.LastWriteTime.QuadPart = 132000000000000000LL;
    entry.FileIdentity = identity.data();
    entry.FileIdentityLength = static_cast<DWORD>(identity.size());
    entry.Flags = flags;
    HRESULT hr = CfCreatePlaceholders(wide(dir).c_str(), &entry, 1, CF_CREATE_FLAG_NONE, nullptr);
    return FAILED(hr) ? hr : entry.Result;
}

HRESULT localPlaceholder(const std::string& path, const std::string& content, const std::string& identity) {
    writeFile(path, content);
    Handle handle(path);
    return CfConvertToPlaceholder(handle.get(), identity.data(), static_cast<DWORD>(identity.size()),
                                  CF_CONVERT_FLAG_MARK_IN_SYNC, nullptr, nullptr);
}

HRESULT updateFlags(HANDLE handle, CF_UPDATE_FLAGS flags) {
    return CfUpdatePlaceholder(handle, nullptr, nullptr, 0, nullptr, 0, flags, nullptr, nullptr);
}

HRESULT updateMetadata(const std::string& path, const CF_FS_METADATA& metadata) {
    Handle handle(path, GENERIC_READ | GENERIC_WRITE);
    return CfUpdatePlaceholder(handle.get(), &metadata, nullptr, 0, nullptr, 0, CF_UPDATE_FLAG_NONE, nullptr, nullptr);
}

Handle::Handle(const std::string& path, DWORD access)
    : handle_(CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}

Handle::~Handle() {
    if (valid()) CloseHandle(handle_);
}

BasicInfo placeholderInfo(const std::string& path) {
    BasicInfo result;
    Handle handle(path);
    if (!handle.valid()) return result;
    std::vector<char> buffer(sizeof(CF_PLACEHOLDER_BASIC_INFO) + CF_PLACEHOLDER_MAX_FILE_IDENTITY_LENGTH);
    DWORD returned = 0;
    result.hr = CfGetPlaceholderInfo(handle.get(), CF_PLACEHOLDER_INFO_BASIC, buffer.data(),
                                     static_cast<DWORD>(buffer.size()), &returned);
    if (SUCCEEDED(result.hr)) {
        auto* info = reinterpret_cast<CF_PLACEHOLDER_BASIC_INFO*>(buffer.data());
        result.pin = info->PinState;
        result.inSync = info->InSyncState;
        result.identity.assign(reinterpret_cast<const char*>(info->FileIdentity), info->FileIdentityLength);
    }
    return result;
}

DWORD attributesOf(const std::string& path) { return GetFileAttributesW(wide(path).c_str()); }

std::int64_t allocatedBytes(const std::string& path) {
    Handle handle(path);
    FILE_STANDARD_INFO info{};
    if (!handle.valid() || !GetFileInformationByHandleEx(handle.get(), FileStandardInfo, &info, sizeof(info)))
        return -1;
    return info.AllocationSize.QuadPart;
}

RecordingProvider::RecordingProvider(const std::string& root, Handler onFetch) {
    {
        std::lock_guard lock(state().mutex);
        state().records.clear();
        state().onFetch = std::move(onFetch);
    }
    static const CF_CALLBACK_REGISTRATION table[] = {
        {CF_CALLBACK_TYPE_FETCH_DATA, onCallback<CF_CALLBACK_TYPE_FETCH_DATA>},
        {CF_CALLBACK_TYPE_CANCEL_FETCH_DATA, onCallback<CF_CALLBACK_TYPE_CANCEL_FETCH_DATA>},
        {CF_CALLBACK_TYPE_NOTIFY_FILE_OPEN_COMPLETION, onCallback<CF_CALLBACK_TYPE_NOTIFY_FILE_OPEN_COMPLETION>},
        CF_CALLBACK_REGISTRATION_END};
    const HRESULT hr =
        CfConnectSyncRoot(wide(root).c_str(), table, nullptr,
                          CF_CONNECT_FLAG_REQUIRE_PROCESS_INFO | CF_CONNECT_FLAG_REQUIRE_FULL_FILE_PATH, &key_);
    connected_ = SUCCEEDED(hr);
    EXPECT_EQ(hr, S_OK) << root;
}

RecordingProvider::~RecordingProvider() { disconnect(); }

HRESULT RecordingProvider::disconnect() {
    if (!connected_) return S_OK;
    connected_ = false;
    return CfDisconnectSyncRoot(key_);
}

void RecordingProvider::record(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params,
                               CF_CALLBACK_TYPE type) {
    CallbackRecord r;
    r.type = type;
    r.connectionKey = info->ConnectionKey;
    r.transferKey = info->TransferKey;
    r.fileSize = info->FileSize.QuadPart;
    if (info->FileIdentity) {
        r.identity.assign(static_cast<const char*>(info->FileIdentity), info->FileIdentityLength);
    }
    r.normalizedPath = info->NormalizedPath ? info->NormalizedPath : L"";
    r.volumeDosName = info->VolumeDosName ? info->VolumeDosName : L"<null>";
    if (info->ProcessInfo) {
        r.processId = info->ProcessInfo->ProcessId;
        r.imagePath = info->ProcessInfo->ImagePath ? info->ProcessInfo->ImagePath : L"";
    }
    if (type == CF_CALLBACK_TYPE_FETCH_DATA) {
        r.requiredOffset = params->FetchData.RequiredFileOffset.QuadPart;
        r.requiredLength = params->FetchData.RequiredLength.QuadPart;
    } else if (type == CF_CALLBACK_TYPE_CANCEL_FETCH_DATA) {
        r.cancelFlags = params->Cancel.Flags;
        r.cancelOffset = params->Cancel.FetchData.FileOffset.QuadPart;
        r.cancelLength = params->Cancel.FetchData.Length.QuadPart;
    }
    Handler handler;
    {
        std::lock_guard lock(state().mutex);
        state().records.push_back(r);
        state().arrived.notify_all();
        if (type == CF_CALLBACK_TYPE_FETCH_DATA) handler = state().onFetch;
    }
    if (handler) handler(r);
}

bool RecordingProvider::waitFor(CF_CALLBACK_TYPE type, std::size_t count) {
    std::unique_lock lock(state().mutex);
    return state().arrived.wait_for(lock, std::chrono::seconds(30), [&] {
        std::size_t n = 0;
        for (auto& r : state().records) n += r.type == type;
        return n >= count;
    });
}

std::vector<CallbackRecord> RecordingProvider::records(CF_CALLBACK_TYPE type) {
    std::lock_guard lock(state().mutex);
    std::vector<CallbackRecord> result;
    for (auto& r : state().records) {
        if (r.type == type) result.push_back(r);
    }
    return result;
}

void transferOperation(const CallbackRecord& request, std::int64_t offset, std::int64_t length, const void* data,
                       NTSTATUS status, CF_OPERATION_INFO& op, CF_OPERATION_PARAMETERS& params) {
    op = CF_OPERATION_INFO{};
    op.StructSize = sizeof(op);
    op.Type = CF_OPERATION_TYPE_TRANSFER_DATA;
    op.ConnectionKey = request.connectionKey;
    op.TransferKey = request.transferKey;
    params = CF_OPERATION_PARAMETERS{};
    params.ParamSize = CF_SIZE_OF_OP_PARAM(TransferData);
    params.TransferData.CompletionStatus = status;
    params.TransferData.Buffer = data;
    params.TransferData.Offset.QuadPart = offset;
    params.TransferData.Length.QuadPart = length;
}

HRESULT transfer(const CallbackRecord& request, std::int64_t offset, std::int64_t length, const void* data,
                 NTSTATUS status) {
    CF_OPERATION_INFO op;
    CF_OPERATION_PARAMETERS params;
    transferOperation(request, offset, length, data, status, op, params);
    return CfExecute(&op, &params);
}

std::unique_ptr<ChildProcess> ProviderProcessTest::startProvider(const std::string& mode, const std::string& argument,
                                                                 const ChildProcess::Options& options) {
    auto provider = std::make_unique<ChildProcess>(CF_TEST_PROVIDER,
                                                   std::vector<std::string>{root, cloud, mode, argument}, options);
    EXPECT_TRUE(waitUntil([&] { return provider->out().find("connected") != std::string::npos; }))
        << provider->out() << provider->err();
    return provider;
}

std::string ProviderProcessTest::cloudFile(const std::string& name, std::size_t size) {
    std::string content(size, '\0');
    std::uint64_t state = size;
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        std::memcpy(&content[i], &state, 8);
    }
    writeFile(cloud + "/" + name, content);
    EXPECT_EQ(createPlaceholder(root, name, static_cast<std::int64_t>(size),
                                identityOf(std::u16string(name.begin(), name.end()))),
              S_OK);
    return content;
}

rapidjson::Document ProviderProcessTest::info(const std::string& path) {
    auto result = runCommand(tool(), {"info", path});
    rapidjson::Document document;
    document.Parse(result.out.c_str());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(document.IsArray() && document.Size() == 1) << result.out;
    return document;
}

}  // namespace nimbrel::test::cf
