// A provider process for the two-process tests: connects a registered root and answers FETCH_DATA
// with the content of CLOUD_DIR/<identity text>.
//   cf_test_provider ROOT CLOUD_DIR serve CHUNK   transfers CHUNK-byte aligned pieces with progress
//   cf_test_provider ROOT CLOUD_DIR peek CHUNK    serves, and reads every opened file itself
//   cf_test_provider ROOT CLOUD_DIR fail STATUS   fails every fetch with the NTSTATUS (hex)
//   cf_test_provider ROOT CLOUD_DIR silent 0      never answers
// It prints "connected" once connected and a line per callback, and runs until it is killed.
//   cf_test_provider ROOT FILE update COUNT       (no provider) gives the placeholder FILE COUNT new
//                                                 identities one after another, then exits
//   cf_test_provider ROOT FILE hold 0             (no provider) takes the record lock of FILE and
//                                                 ends without letting go of it
//   cf_test_provider ROOT FILE pin STATE          (no provider) sets the pin state of FILE, then exits

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "cf_item.h"
#include "platform/cfapi.h"
#include "platform/platform_paths.h"

namespace {

std::string gRoot;
std::string gCloudDir;
std::string gMode;
long long gArgument = 0;
std::mutex gOutput;

void say(const std::string& line) {
    std::lock_guard lock(gOutput);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

HRESULT send(const CF_CALLBACK_INFO* info, NTSTATUS status, const void* data, long long offset, long long length) {
    CF_OPERATION_INFO op{};
    op.StructSize = sizeof(op);
    op.Type = CF_OPERATION_TYPE_TRANSFER_DATA;
    op.ConnectionKey = info->ConnectionKey;
    op.TransferKey = info->TransferKey;
    CF_OPERATION_PARAMETERS params{};
    params.ParamSize = CF_SIZE_OF_OP_PARAM(TransferData);
    params.TransferData.CompletionStatus = status;
    params.TransferData.Buffer = data;
    params.TransferData.Offset.QuadPart = offset;
    params.TransferData.Length.QuadPart = length;
    return CfExecute(&op, &params);
}

std::string nameOf(const CF_CALLBACK_INFO* info) {
    std::u16string id(static_cast<const char16_t*>(info->FileIdentity), info->FileIdentityLength / 2);
    if (auto nul = id.find(u'\0'); nul != std::u16string::npos) id.resize(nul);
    return nimbrel::platform::toUtf8(id);
}

std::string requesterOf(const CF_CALLBACK_INFO* info) {
    return " pid=" + std::to_string(info->ProcessInfo ? info->ProcessInfo->ProcessId : 0) +
           " image=" + nimbrel::platform::toUtf8(std::wstring(info->ProcessInfo ? info->ProcessInfo->ImagePath : L""));
}

void CALLBACK onFetch(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS*) {
    const std::string name = nameOf(info);
    say("fetch " + name + requesterOf(info));
    const long long size = info->FileSize.QuadPart;
    if (gMode == "silent") return;
    if (gMode == "fail") {
        send(info, static_cast<NTSTATUS>(gArgument), nullptr, 0, size < 4096 ? size : 4096);
        return;
    }
    std::vector<char> content(static_cast<std::size_t>(size));
    if (FILE* in = std::fopen((gCloudDir + "/" + name).c_str(), "rb")) {
        content.resize(std::fread(content.data(), 1, content.size(), in));
        std::fclose(in);
    }
    content.resize(static_cast<std::size_t>(size));
    const long long chunk = gArgument;
    for (long long offset = 0; offset < size; offset += chunk) {
        const long long length = std::min(chunk, size - offset);
        HRESULT hr = send(info, 0, content.data() + offset, offset, length);
        if (FAILED(hr)) {
            say("transfer failed");
            return;
        }
        LARGE_INTEGER total{}, done{};
        total.QuadPart = size;
        done.QuadPart = offset + length;
        CfReportProviderProgress(info->ConnectionKey, info->TransferKey, total, done);
    }
    say("served " + name);
}

void CALLBACK onOpen(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS*) {
    say("open " + nameOf(info) + requesterOf(info));
    if (gMode != "peek") return;
    // A provider that looks into a file it was told about reads it as it is on the disk.
    long long bytes = 0;
    if (FILE* in = std::fopen((gRoot + "/" + nameOf(info)).c_str(), "rb")) {
        char block[4096];
        while (std::size_t n = std::fread(block, 1, sizeof(block), in)) bytes += static_cast<long long>(n);
        std::fclose(in);
    }
    say("peeked " + nameOf(info) + " " + std::to_string(bytes));
}

void CALLBACK onCancel(const CF_CALLBACK_INFO*, const CF_CALLBACK_PARAMETERS* params) {
    say("cancel flags=" + std::to_string(params->Cancel.Flags));
}

// 0 when every update succeeded.
int updateIdentity(const std::string& path, long long count) {
    HANDLE file = CreateFileW(nimbrel::platform::toWindowsPath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    int failed = file == INVALID_HANDLE_VALUE;
    for (long long i = 0; i < count && !failed; ++i) {
        const std::string identity = "child-" + std::to_string(i);
        failed = FAILED(CfUpdatePlaceholder(file, nullptr, identity.data(), static_cast<DWORD>(identity.size()),
                                            nullptr, 0, CF_UPDATE_FLAG_NONE, nullptr, nullptr));
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return failed;
}

// 0 when the pin state was set.
int setPin(const std::string& path, long long state) {
    HANDLE file = CreateFileW(nimbrel::platform::toWindowsPath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const HRESULT hr = CfSetPinState(file, static_cast<CF_PIN_STATE>(state), CF_SET_PIN_FLAG_NONE, nullptr);
    CloseHandle(file);
    return FAILED(hr);
}

// Ends with 0 once it holds the lock.
int endHoldingLock(const std::string& path) {
    auto store = nimbrel::platform::cf::CfStore::current();
    auto item = store ? nimbrel::platform::cf::resolveItem(*store, path, -1, true) : std::nullopt;
    std::_Exit(item && item->lock ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    gRoot = argv[1];
    gCloudDir = argv[2];
    gMode = argv[3];
    gArgument = std::strtoll(argv[4], nullptr, 0);
    if (gMode == "update") return updateIdentity(gCloudDir, gArgument);
    if (gMode == "hold") return endHoldingLock(gCloudDir);
    if (gMode == "pin") return setPin(gCloudDir, gArgument);
    const CF_CALLBACK_REGISTRATION table[] = {{CF_CALLBACK_TYPE_FETCH_DATA, onFetch},
                                              {CF_CALLBACK_TYPE_CANCEL_FETCH_DATA, onCancel},
                                              {CF_CALLBACK_TYPE_NOTIFY_FILE_OPEN_COMPLETION, onOpen},
                                              CF_CALLBACK_REGISTRATION_END};
    CF_CONNECTION_KEY key{};
    const std::wstring root = nimbrel::platform::toWindowsPath(argv[1]);
    HRESULT hr = CfConnectSyncRoot(root.c_str(), table, nullptr,
                                   CF_CONNECT_FLAG_REQUIRE_PROCESS_INFO | CF_CONNECT_FLAG_REQUIRE_FULL_FILE_PATH, &key);
    if (FAILED(hr)) {
        std::printf("connect failed 0x%08x\n", static_cast<unsigned>(hr));
        return 1;
    }
    say("connected");
    for (;;) pause();
}
