#pragma once
// Registry and error-text helpers of the suite. Every registry call names its view: true selects
// the 64-bit registry view, false the 32-bit one, whatever the bitness of the calling process.

#include <QString>
#include <QVariant>
#include <functional>

#include "platform/win_types.h"

class Utility {
public:
    static bool registryKeyExists(HKEY root, const QString& key, bool view64);
    // REG_SZ and REG_EXPAND_SZ as QString, REG_DWORD as uint, REG_QWORD as qulonglong, REG_BINARY as
    // QByteArray; an invalid variant when the key or value is absent or of another type.
    static QVariant registryGetKeyValue(HKEY root, const QString& key, const QString& valueName, bool view64);
    // Creates the key when missing. `regType` is one of the types above; the variant is converted to it.
    static bool registrySetKeyValue(HKEY root, const QString& key, const QString& valueName, DWORD regType,
                                    const QVariant& value, bool view64);
    // Removes the key with its values and every sub-key; true when the key is gone afterwards.
    static bool registryDeleteKeyTree(HKEY root, const QString& key, bool view64);
    // Calls `callback` with an open handle and the name of each direct sub-key, in enumeration order.
    // The handle is valid only during the call.
    static bool registryWalkSubKeys(HKEY root, const QString& key,
                                    const std::function<void(HKEY, const QString&)>& callback, bool view64);

    // The system's text for a Win32 error code or an HRESULT, without the trailing line break;
    // "Unknown error 0x%08x" for a code the system does not know.
    static QString formatWinError(long error);

    // What IsWow64Process answers for this process: non-zero only for a 32-bit process on a 64-bit
    // system.
    static BOOL IsWow64();
};
