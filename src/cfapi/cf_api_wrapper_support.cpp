#include "cfapi/cf_api_wrapper_support.h"

#include "cfapi/file_time.h"

namespace cfapi_support {

QString hex(HRESULT hr) { return QString::asprintf("0x%08x", static_cast<unsigned>(hr)); }
QString hexUpper(HRESULT hr) { return QString::asprintf("0x%08X", static_cast<unsigned>(hr)); }

std::vector<char16_t> identityBlob(const QByteArray& identityUtf8) {
    QString text = QString::fromUtf8(identityUtf8.constData(), identityUtf8.size());
    std::vector<char16_t> blob(text.utf16(), text.utf16() + text.size());
    blob.push_back(u'\0');
    return blob;
}

DWORD identityBlobLength(const std::vector<char16_t>& blob) {
    return static_cast<DWORD>(blob.size() * sizeof(char16_t));
}

std::wstring wide(const QString& text) { return text.toStdWString(); }

CF_FS_METADATA metadataFor(qint64 creationTime, qint64 modificationTime, qint64 accessTime) {
    CF_FS_METADATA metadata{};
    metadata.BasicInfo.CreationTime.QuadPart = filetime::fromUnixSeconds(creationTime);
    metadata.BasicInfo.LastAccessTime.QuadPart = filetime::fromUnixSeconds(accessTime);
    metadata.BasicInfo.LastWriteTime.QuadPart = filetime::fromUnixSeconds(modificationTime);
    metadata.BasicInfo.ChangeTime.QuadPart = filetime::fromUnixSeconds(modificationTime);
    return metadata;
}

}  // namespace cfapi_support
