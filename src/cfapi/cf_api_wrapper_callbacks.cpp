// The callbacks of the live connection: a fetch asks the main client where the file's content is,
// registers the download and keeps the request alive until it holds a hydration slot; opening an
// empty placeholder makes it count as local.
#include <QDebug>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "cfapi/hydration_source.h"
#include "cfapi/transfer_support.h"
#include "download/download_task_table.h"
#include "platform/shlobj.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

namespace {

// The suite's own executables, lower case; they never hydrate files.
const QString kSuiteProcessList =
    QStringLiteral("|duzoduruzo.exe|duzodururo.exe|ziduzudu.exe|zedozizevoro.exe|rozidavidovodido.exe|");
const QString kOpenNotificationSkipList = kSuiteProcessList + QStringLiteral("explorer.exe|");

constexpr DWORD kNeedsRecallAttributes =
    FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_OPEN | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS;

QString imageFileName(const CF_CALLBACK_INFO* info) {
    if (!info->ProcessInfo || !info->ProcessInfo->ImagePath) return QString();
    QString image = QString::fromWCharArray(info->ProcessInfo->ImagePath);
    return image.mid(std::max(image.lastIndexOf('\\'), image.lastIndexOf('/')) + 1).toLower();
}

bool inProcessList(const QString& list, const QString& imageName) {
    return !imageName.isEmpty() && list.contains('|' + imageName + '|');
}

QString requestPath(const CF_CALLBACK_INFO* info) {
    return QString::fromWCharArray(info->VolumeDosName) + QString::fromWCharArray(info->NormalizedPath);
}

QString transferKeyText(CF_TRANSFER_KEY key) { return QString::number(key.QuadPart, 16); }

}  // namespace

HydrationSource* CfApiWrapper::hydrationSource = nullptr;

void CfApiWrapper::setHydrationSource(HydrationSource* source) { hydrationSource = source; }

void CfApiWrapper::cancelTask(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey) {
    HRESULT hr = transfer_support::execute(connectionKey, transferKey, STATUS_UNSUCCESSFUL,
                                           transfer_support::fillerBlock(), 0, transfer_support::kUnit);
    if (FAILED(hr)) {
        qInfo() << "cancelTask"
                << "Couldn't send transfer info" << transferKeyText(transferKey) << ":" << hex(hr)
                << windowsErrorText(hr);
    }
}

HRESULT CfApiWrapper::sendImmediateAck(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey,
                                       LONGLONG fileSize) {
    if (fileSize < transfer_support::kUnit) return S_OK;
    return transfer_support::execute(connectionKey, transferKey, STATUS_SUCCESS, transfer_support::fillerBlock(), 0,
                                     transfer_support::kUnit);
}

void CALLBACK CfApiWrapper::OnFetchData1(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params) {
    if (!info || !info->VolumeDosName || !info->NormalizedPath) return;
    const QString path = requestPath(info);
    if (isTransientFile(path, 1)) {
        cancelTask(info->ConnectionKey, info->TransferKey);
        return;
    }
    const QString imageName = imageFileName(info);
    if (inProcessList(kSuiteProcessList, imageName)) {
        LOG_INFO << "call from " << imageName << ", cancel the operation. path = " << path;
        cancelTask(info->ConnectionKey, info->TransferKey);
        return;
    }
    const QString keys = "transferKey=0x" + transferKeyText(info->TransferKey) +
                         ", connKey=" + QString::number(info->ConnectionKey.Internal);
    LOG_INFO << "OnFetchData1 pid=" << (info->ProcessInfo ? info->ProcessInfo->ProcessId : 0) << " exe="
             << (info->ProcessInfo && info->ProcessInfo->ImagePath
                     ? QString::fromWCharArray(info->ProcessInfo->ImagePath)
                     : QString())
             << " path=" << QString::fromWCharArray(info->NormalizedPath) << " " << keys << " reqRange=["
             << (params ? params->FetchData.RequiredFileOffset.QuadPart : 0) << ", "
             << (params ? params->FetchData.RequiredLength.QuadPart : 0) << "]";

    const std::string taskId = transfer_support::taskIdOf(info);
    bool taskExists = false;
    DownloadMetadata metadata;
    QString newLsid;
    if (!hydrationSource || hydrationSource->getDownloadMetadata(taskId, path, &taskExists, &metadata, &newLsid) != 0) {
        cancelTask(info->ConnectionKey, info->TransferKey);
        LOG_INFO << " getDownloadMetadata fail, " << keys;
        return;
    }
    if (metadata.iFileSize != info->FileSize.QuadPart) {
        cancelTask(info->ConnectionKey, info->TransferKey);
        LOG_INFO << " file size mismatch, cancel transfer task, " << keys << ", metaSize=" << metadata.iFileSize
                 << ", diskSize=" << info->FileSize.QuadPart;
        return;
    }
    qInfo() << "OnFetchData1"
            << "fileIndentity: " << QString::fromStdString(taskId) << " bTaskExist = " << taskExists
            << ", transferKey=0x" + transferKeyText(info->TransferKey) << ", newLsid: " << newLsid;

    if (taskExists) {
        HRESULT hr = transfer_support::execute(info->ConnectionKey, info->TransferKey, STATUS_CLOUD_FILE_IN_USE,
                                               transfer_support::fillerBlock(), 0, transfer_support::kUnit);
        if (FAILED(hr)) {
            qInfo() << "OnFetchData1"
                    << "Couldn't send transfer info" << transferKeyText(info->TransferKey) << ":" << hex(hr)
                    << windowsErrorText(hr);
        }
        return;
    }
    DownloadTaskTable::instance().setTask(taskId, *info);
    // The filter's cancel of an earlier request that had already failed would stop this one.
    DownloadTaskTable::instance().removeCancelled(taskId);

    // Small files skip the acknowledge and the slot queue: one transfer finishes them.
    if (info->FileSize.QuadPart <= transfer_support::kUnit) {
        InnerDownload(taskId, path, metadata);
        LOG_INFO << ", fileIndentity = " << taskId << ", localPath = " << path;
        return;
    }
    HRESULT hr = sendImmediateAck(info->ConnectionKey, info->TransferKey, info->FileSize.QuadPart);
    if (FAILED(hr)) {
        qWarning() << "OnFetchData1: Immediate ack failed:" << hex(hr);
        return;
    }
    ExecShellFetchData(taskId, path, metadata);
}

void CALLBACK CfApiWrapper::OnCancelFetchData1(const CF_CALLBACK_INFO* info, const CF_CALLBACK_PARAMETERS* params) {
    Q_UNUSED(params);
    if (!info) return;
    const std::string taskId = transfer_support::taskIdOf(info);
    qInfo() << "OnCancelFetchData1 identity=" << QString::fromStdString(taskId)
            << ", TransferKey = 0x" + transferKeyText(info->TransferKey);
    CF_CALLBACK_INFO context{};
    context.ConnectionKey = info->ConnectionKey;
    context.TransferKey = info->TransferKey;
    context.FileSize = info->FileSize;
    DownloadTaskTable::instance().setCancelled(taskId, context);
}

void CALLBACK CfApiWrapper::OnNotifyFileOpenCompletion1(const CF_CALLBACK_INFO* info,
                                                        const CF_CALLBACK_PARAMETERS* params) {
    Q_UNUSED(params);
    if (!info || info->FileSize.QuadPart != 0 || !info->VolumeDosName || !info->NormalizedPath) return;
    if (inProcessList(kOpenNotificationSkipList, imageFileName(info))) return;
    const QString path = requestPath(info);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide(toLongPath(path)).c_str(), GetFileExInfoStandard, &data)) return;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || data.nFileSizeHigh != 0 || data.nFileSizeLow != 0) {
        return;
    }
    PlaceholderInfo placeholder = findPlaceholderInfo(path);
    const bool needPin = placeholder ? placeholder->PinState != CF_PIN_STATE_PINNED
                                     : (data.dwFileAttributes & kNeedsRecallAttributes) != 0;
    if (!placeholder || !needPin) return;
    const bool pinned = setPinState(path, PinState::AlwaysLocal, PinRecursionNone);
    LOG_INFO << "zero-size placeholder opened, set AlwaysLocal result =" << pinned << ", path =" << path;
    // An empty file has nothing to fetch: this is how Explorer learns it is now on the device.
    if (pinned) SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.toStdWString().c_str(), nullptr);
}
