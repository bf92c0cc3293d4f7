// The callbacks of the live connection. Content is not served by this engine yet, so every fetch
// is failed at once: the filter then fails the application's read instead of letting it hang
// until the platform's own time-out.
#include <QDebug>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

namespace {

constexpr LONGLONG kTransferUnit = 4096;

// The buffer of every transfer that carries no real data.
const BYTE* fillerBlock() {
    static const auto* block = [] {
        auto* bytes = new BYTE[kTransferUnit];
        std::fill(bytes, bytes + kTransferUnit, 0x55);
        return bytes;
    }();
    return block;
}

}  // namespace

void CfApiWrapper::cancelTask(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey) {
    CF_OPERATION_INFO operation{};
    operation.StructSize = 40;
    operation.Type = CF_OPERATION_TYPE_TRANSFER_DATA;
    operation.ConnectionKey = connectionKey;
    operation.TransferKey = transferKey;
    CF_OPERATION_PARAMETERS parameters{};
    parameters.ParamSize = 40;
    parameters.TransferData.Flags = CF_OPERATION_TRANSFER_DATA_FLAG_NONE;
    parameters.TransferData.CompletionStatus = STATUS_UNSUCCESSFUL;
    parameters.TransferData.Buffer = fillerBlock();
    parameters.TransferData.Offset.QuadPart = 0;
    parameters.TransferData.Length.QuadPart = kTransferUnit;
    HRESULT hr = CfExecute(&operation, &parameters);
    if (FAILED(hr)) {
        qInfo() << "cancelTask"
                << "Couldn't send transfer info" << QString::number(transferKey.QuadPart, 16) << ":" << hex(hr)
                << windowsErrorText(hr);
    }
}

void CALLBACK CfApiWrapper::OnFetchData1(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params) {
    Q_UNUSED(params);
    if (!info || !info->VolumeDosName || !info->NormalizedPath) return;
    QString path = QString::fromWCharArray(info->VolumeDosName) + QString::fromWCharArray(info->NormalizedPath);
    LOG_INFO << "no content source for fetch, cancel the operation. path = " << path;
    cancelTask(info->ConnectionKey, info->TransferKey);
}

void CALLBACK CfApiWrapper::OnCancelFetchData1(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params) {
    // Every fetch was already failed when it arrived; nothing is running that could be stopped.
    Q_UNUSED(info);
    Q_UNUSED(params);
}

void CALLBACK CfApiWrapper::OnNotifyFileOpenCompletion1(const CF_CALLBACK_INFO* info,
                                                        const CF_CALLBACK_PARAMETERS* params) {
    // Opening a placeholder changes nothing while no content is served.
    Q_UNUSED(info);
    Q_UNUSED(params);
}
