// Hydration downloads: the wait for a slot, the download with its diagnostic summary, and the
// transfer of each block to the filter with progress reports of about one per cent of the file.
#include <openssl/evp.h>

#include <QDebug>
#include <memory>
#include <vector>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "cfapi/hydration_source.h"
#include "cfapi/transfer_support.h"
#include "download/download_task_table.h"
#include "download/hydration_turn.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

namespace {

// Files above this are not hashed after their download: the comparison is a diagnostic only.
constexpr qint64 kMaxHashedSize = 104857600;
// Every read of a file under the sync root costs a look-up of its placeholder state, so the
// digest is fed from large reads.
constexpr DWORD kHashReadBlock = 65536;

QString requestText(CF_TRANSFER_KEY transferKey, CF_CONNECTION_KEY connectionKey, LONGLONG offset, LONGLONG length) {
    return QString("transferKey=0x%1, connKey=%2, reqRange=[%3, %4]")
        .arg(QString::number(transferKey.QuadPart, 16))
        .arg(connectionKey.Internal)
        .arg(offset)
        .arg(length);
}

qint64 localFileSize(const QString& longPath) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide(longPath).c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<qint64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

bool CfApiWrapper::cfApiSendTransferInfo(CF_CONNECTION_KEY connectionKey, CF_TRANSFER_KEY transferKey, NTSTATUS status,
                                         const void* buffer, LONGLONG offset, LONGLONG length, LONGLONG fileSize,
                                         LONGLONG& lastReported) {
    HRESULT hr = transfer_support::execute(connectionKey, transferKey, status, buffer, offset, length);
    if (FAILED(hr)) {
        LOG_CRITICAL << "Couldn't send transfer info " << QString::number(transferKey.QuadPart, 16) << " " << hex(hr)
                     << " " << windowsErrorText(hr) << " " << requestText(transferKey, connectionKey, offset, length);
        return false;
    }
    const LONGLONG end = offset + length;
    const bool finished = end == fileSize;
    const LONGLONG step = fileSize / 100;
    if (end - lastReported >= step || finished) {
        LARGE_INTEGER total{};
        total.QuadPart = fileSize;
        LARGE_INTEGER completed{};
        completed.QuadPart = end;
        hr = CfReportProviderProgress(connectionKey, transferKey, total, completed);
        if (FAILED(hr)) {
            LOG_CRITICAL << "Couldn't report provider progress " << hex(hr) << " " << windowsErrorText(hr) << " "
                         << requestText(transferKey, connectionKey, offset, length);
            return false;
        }
        lastReported = finished ? 0 : end;
    }
    return true;
}

void CfApiWrapper::ExecShellFetchData(const std::string& taskId, const QString& localPath,
                                      const DownloadMetadata& metadata) {
    const CF_CALLBACK_INFO context = DownloadTaskTable::instance().getTask(taskId);
    LOG_INFO << ", fileIndentity = " << taskId << ", TransferKey = 0x"
             << QString::number(context.TransferKey.QuadPart, 16) << " localPath:" << localPath;
    // A waiting request is kept alive towards the filter; the filter drops it otherwise.
    int keptAlive = 0;
    auto keepAlive = [&] {
        ++keptAlive;
        if (keptAlive < 4 || keptAlive == 10 || keptAlive == 20 || keptAlive % 50 == 0) {
            LOG_INFO << "keep-alive, fileIndentity = " << taskId << ", count = " << keptAlive;
        }
        HRESULT hr = transfer_support::execute(context.ConnectionKey, context.TransferKey, STATUS_SUCCESS,
                                               transfer_support::fillerBlock(), 0, transfer_support::kUnit);
        if (FAILED(hr)) {
            qCritical() << "ExecShellFetchData"
                        << "Couldn't send cfExecuteresult";
            return false;
        }
        return true;
    };
    runInHydrationSlot(taskId, keepAlive, [&] { InnerDownload(taskId, localPath, metadata); });
}

void CfApiWrapper::InnerDownload(const std::string& taskId, const QString& localPath,
                                 const DownloadMetadata& metadata) {
    if (isTransientFile(localPath, 1)) return;
    LOG_INFO << " begin, fileIndentity = " << taskId << ", path = " << localPath;
    const int result = hydrationSource ? hydrationSource->downloadByUrl(taskId, localPath, metadata) : -1;

    const qint64 localSize = localFileSize(toLongPath(localPath));
    QString summary = QString(", iFileSize: %1, strHashValue: %2, strHashAlgorithmType: %3, stMetadata strUrl: %4")
                          .arg(metadata.iFileSize)
                          .arg(metadata.strHashValue, metadata.strHashAlgorithmType, metadata.strUrl);
    summary += QString("iDownloadRet: %1, ").arg(result);
    summary += QString("bSizeEqual: %1, iLocalFileSize: %2, ").arg(localSize == metadata.iFileSize).arg(localSize);
    if (localSize > 0 && localSize <= kMaxHashedSize && !metadata.strHashValue.isEmpty() &&
        metadata.strHashAlgorithmType.compare("SHA256", Qt::CaseInsensitive) == 0) {
        const QString localHash = fileSha256(localPath);
        summary += QString("bHashEqual: %1, strLocalHash: %2")
                       .arg(localHash.compare(metadata.strHashValue, Qt::CaseInsensitive) == 0)
                       .arg(localHash);
    }
    LOG_INFO << "end, fileIndentity = " << taskId << summary;
}

QString CfApiWrapper::fileSha256(const QString& path) {
    HANDLE file = CreateFileW(wide(toLongPath(path)).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        qWarning() << "Error opening file:" << path << "error:" << GetLastError();
        return QString();
    }
    ScopedHandle handle(file);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr);
    std::vector<BYTE> block(kHashReadBlock);
    DWORD read = 0;
    while (ReadFile(handle.get(), block.data(), kHashReadBlock, &read, nullptr) && read > 0) {
        EVP_DigestUpdate(digest.get(), block.data(), read);
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(digest.get(), value, &length);
    return QByteArray(reinterpret_cast<const char*>(value), static_cast<int>(length)).toHex();
}
