#include "cfapi/placeholder_info.h"

#include <algorithm>
#include <cstddef>

PlaceholderInfo PlaceholderInfo::copy() const {
    if (!isValid()) return {};
    auto buffer = std::make_unique<BYTE[]>(size_);
    std::copy(buffer_.get(), buffer_.get() + size_, buffer.get());
    return PlaceholderInfo(std::move(buffer), size_);
}

QByteArray PlaceholderInfo::identity() const {
    if (!isValid()) return {};
    // Never read past the buffer, whatever length the record claims.
    DWORD available = size_ > offsetof(CF_PLACEHOLDER_BASIC_INFO, FileIdentity)
                          ? size_ - static_cast<DWORD>(offsetof(CF_PLACEHOLDER_BASIC_INFO, FileIdentity))
                          : 0;
    DWORD length = get()->FileIdentityLength < available ? get()->FileIdentityLength : available;
    return QByteArray(reinterpret_cast<const char*>(get()->FileIdentity), static_cast<int>(length));
}

QString PlaceholderInfo::identityText() const {
    QByteArray bytes = identity();
    QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
    int nul = text.indexOf(QChar(0));
    return nul >= 0 ? text.left(nul) : text;
}
