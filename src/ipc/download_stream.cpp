#include "ipc/download_stream.h"

#include <algorithm>
#include <map>

#include "cfapi/cf_api_wrapper.h"
#include "download/download_task_table.h"
#include "suite/base/file_http.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr qint64 kBlockSize = 4096;

}  // namespace

DownloadStream::DownloadStream(const std::string& taskId, const CF_CALLBACK_INFO& context)
    : taskId_(taskId), context_(context) {}

bool DownloadStream::receive(const QString& url, int timeoutMs) {
    FileHttp http(url, false);
    const qint64 result = http.getFile(
        {{QStringLiteral("Content-Type"), QString()}}, [this](const QByteArray& chunk) { return onChunk(chunk); },
        timeoutMs, false);
    if (result != 0 && !cancelled_) {
        LOG_WARN << "getFile failed, result = " << result << ", http status = " << http.httpStatus()
                 << ", error = " << http.errorText() << ", url = " << url;
        success_ = false;
    }
    return success_ && !cancelled_;
}

int DownloadStream::onChunk(const QByteArray& chunk) {
    if (DownloadTaskTable::instance().isCancelled(taskId_)) {
        cancelled_ = true;
        success_ = false;
        return 1;
    }
    // Only what is not yet a whole block is kept: the blocks go to the filter straight from the
    // chunk, so a body's bytes are not copied once more on their way.
    const char* data = chunk.constData();
    qint64 size = chunk.size();
    if (!pending_.isEmpty()) {
        const qint64 fill = std::min(size, kBlockSize - pending_.size());
        pending_.append(data, static_cast<int>(fill));
        data += fill;
        size -= fill;
        if (pending_.size() < kBlockSize) return 0;
        if (!transfer(pending_.constData(), kBlockSize)) {
            success_ = false;
            return -1;
        }
        pending_.clear();
    }
    const qint64 whole = size / kBlockSize * kBlockSize;
    if (whole > 0 && !transfer(data, whole)) {
        success_ = false;
        return -1;
    }
    pending_.append(data + whole, static_cast<int>(size - whole));
    return 0;
}

bool DownloadStream::flushTail() {
    if (pending_.isEmpty()) return true;
    const bool sent = transfer(pending_.constData(), pending_.size());
    pending_.clear();
    return sent;
}

bool DownloadStream::transfer(const char* data, qint64 length) {
    if (!CfApiWrapper::cfApiSendTransferInfo(context_.ConnectionKey, context_.TransferKey, STATUS_SUCCESS, data,
                                             offset_, length, context_.FileSize.QuadPart, lastReported_)) {
        return false;
    }
    offset_ += length;
    return true;
}
