#pragma once
// The suite's HTTP file client (libcurl): fetches one URL and hands each block of the body to a
// callback, through the proxy that CProxyWrapper holds at the time of the call.

#include <QByteArray>
#include <QString>
#include <functional>
#include <map>

class FileHttp {
public:
    // Returning non-zero aborts the transfer.
    using DataCallback = std::function<int(const QByteArray& block)>;

    // Results of getFile besides 0 (success): a positive HTTP status (400 and above), or a negative
    // transfer error.
    static constexpr qint64 kAbortedByCallback = -23;
    static constexpr qint64 kTimedOut = -28;

    FileHttp(const QString& url, bool verbose);

    // Blocks until the body has been delivered or the transfer failed. A header with an empty
    // value is sent empty. `timeoutMs` bounds the connection set-up and any stretch of time
    // without data. Answers 0 on success.
    qint64 getFile(const std::map<QString, QString>& headers, const DataCallback& onData, int timeoutMs,
                   bool followRedirects);

    long httpStatus() const { return httpStatus_; }
    QString errorText() const { return errorText_; }

private:
    QString url_;
    bool verbose_;
    long httpStatus_ = 0;
    QString errorText_;
};
