#pragma once
// Helpers shared by the source files of CfApiWrapper (not part of its interface).

#include <QByteArray>
#include <QString>
#include <vector>

#include "platform/cfapi.h"

namespace cfapi_support {

// HRESULTs appear in the log as "0x%08x".
QString hex(HRESULT hr);
QString hexUpper(HRESULT hr);

// The identity blob stored with a placeholder: the UTF-16 form of the UTF-8 identifier with its
// terminating NUL, 2 x (characters + 1) bytes.
std::vector<char16_t> identityBlob(const QByteArray& identityUtf8);
DWORD identityBlobLength(const std::vector<char16_t>& blob);

std::wstring wide(const QString& text);

// The item's times as the Cloud Files metadata carries them; attributes and size left to the caller.
CF_FS_METADATA metadataFor(qint64 creationTime, qint64 modificationTime, qint64 accessTime);

}  // namespace cfapi_support
