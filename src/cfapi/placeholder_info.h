#pragma once
// An owned copy of a placeholder's basic information (CF_PLACEHOLDER_BASIC_INFO followed by its
// identity bytes). An empty owner stands for "no information": not a placeholder, not readable.

#include <QByteArray>
#include <QString>
#include <memory>

#include "platform/cfapi.h"

class PlaceholderInfo {
public:
    PlaceholderInfo() = default;
    PlaceholderInfo(std::unique_ptr<BYTE[]> buffer, DWORD size) : buffer_(std::move(buffer)), size_(size) {}

    bool isValid() const { return buffer_ != nullptr; }
    PlaceholderInfo copy() const;
    explicit operator bool() const { return isValid(); }

    const CF_PLACEHOLDER_BASIC_INFO* get() const {
        return reinterpret_cast<const CF_PLACEHOLDER_BASIC_INFO*>(buffer_.get());
    }
    const CF_PLACEHOLDER_BASIC_INFO* operator->() const { return get(); }

    // The identity bytes as stored (a UTF-16 text, normally with its terminating NUL).
    QByteArray identity() const;
    // The identity read as UTF-16 up to its first NUL.
    QString identityText() const;

private:
    std::unique_ptr<BYTE[]> buffer_;
    DWORD size_ = 0;
};
