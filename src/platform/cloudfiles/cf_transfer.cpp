// CfExecute (TRANSFER_DATA) and CfReportProviderProgress: the provider's answers, handed to the
// filter core of the connection they name.

#include "cf_connection.h"
#include "cf_errors.h"
#include "platform/fault_injection.h"

using namespace nimbrel::platform;

namespace {

// Older callers' CF_OPERATION_INFO ends before RequestKey.
constexpr ULONG kMinOperationInfoSize = offsetof(CF_OPERATION_INFO, RequestKey);

}  // namespace

extern "C" HRESULT CfExecute(const CF_OPERATION_INFO* OpInfo, CF_OPERATION_PARAMETERS* OpParams) {
    if (!OpInfo || !OpParams) return E_INVALIDARG;
    auto connected = cf::findConnection(OpInfo->ConnectionKey);
    const std::string path = connected ? connected->core->pathOf(OpInfo->TransferKey) : std::string();
    if (auto fault = faults::check("CfExecute", path)) return *fault;
    if (OpInfo->StructSize < kMinOperationInfoSize) return E_INVALIDARG;
    if (OpInfo->Type != CF_OPERATION_TYPE_TRANSFER_DATA) return cf::hrWin32(ERROR_CLOUD_FILE_INVALID_REQUEST);
    if (OpParams->ParamSize < CF_SIZE_OF_OP_PARAM(TransferData)) return E_INVALIDARG;
    if (!connected) return E_INVALIDARG;
    const auto& transfer = OpParams->TransferData;
    if (transfer.Flags != CF_OPERATION_TRANSFER_DATA_FLAG_NONE) return E_INVALIDARG;
    if (connected->core->connection().root.hydration.Primary == CF_HYDRATION_POLICY_ALWAYS_FULL) {
        return cf::hrWin32(ERROR_CLOUD_FILE_INVALID_REQUEST);
    }
    return connected->core->transferData(OpInfo->TransferKey, transfer.CompletionStatus, transfer.Buffer,
                                         transfer.Offset.QuadPart, transfer.Length.QuadPart);
}

extern "C" HRESULT CfReportProviderProgress(CF_CONNECTION_KEY ConnectionKey, CF_TRANSFER_KEY TransferKey,
                                            LARGE_INTEGER ProviderProgressTotal,
                                            LARGE_INTEGER ProviderProgressCompleted) {
    auto connected = cf::findConnection(ConnectionKey);
    const std::string path = connected ? connected->core->pathOf(TransferKey) : std::string();
    if (auto fault = faults::check("CfReportProviderProgress", path)) return *fault;
    if (!connected) return E_INVALIDARG;
    if (ProviderProgressTotal.QuadPart < 0 || ProviderProgressCompleted.QuadPart < 0 ||
        ProviderProgressCompleted.QuadPart > ProviderProgressTotal.QuadPart) {
        return E_INVALIDARG;
    }
    return connected->core->reportProgress(TransferKey, ProviderProgressTotal.QuadPart,
                                           ProviderProgressCompleted.QuadPart);
}
