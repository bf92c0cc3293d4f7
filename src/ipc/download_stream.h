#pragma once
// Streams a URL's body into the pending fetch request of one task: whole 4096-byte blocks as the
// body arrives, the remainder once it has ended, each through the engine's transfer primitive. A
// cancel mark of the task stops the web transfer at the next chunk.

#include <QByteArray>
#include <QString>
#include <string>

#include "platform/cfapi.h"

class DownloadStream {
public:
    DownloadStream(const std::string& taskId, const CF_CALLBACK_INFO& context);

    // Runs the web transfer; true when the body arrived whole and every block went through.
    bool receive(const QString& url, int timeoutMs);
    // Transfers what is still pending; true when nothing failed.
    bool flushTail();

    bool cancelled() const { return cancelled_; }
    qint64 transferred() const { return offset_; }

private:
    int onChunk(const QByteArray& chunk);
    bool transfer(const char* data, qint64 length);

    std::string taskId_;
    CF_CALLBACK_INFO context_;
    qint64 offset_ = 0;
    LONGLONG lastReported_ = 0;
    QByteArray pending_;
    bool cancelled_ = false;
    bool success_ = true;
};
