#include "mirror_state.h"

#include "platform/windows.h"

bool isKeptOnDevice(const QString& localPath) {
    const DWORD attributes = GetFileAttributesW(localPath.toStdWString().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_PINNED) != 0;
}
