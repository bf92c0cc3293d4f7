#include "suite/base/utility.h"

#include <QSysInfo>
#include <cstring>
#include <string>
#include <vector>

#include "platform/windows.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

// The longest registry key name Windows allows, plus its terminating NUL.
constexpr DWORD kMaxKeyNameChars = 256;
constexpr DWORD kFormatBufferChars = 1024;

REGSAM viewFlag(bool view64) { return view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

// An open registry key, closed when it goes out of scope.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    LONG open(HKEY root, const QString& path, REGSAM access, bool view64) {
        return RegOpenKeyExW(root, path.toStdWString().c_str(), 0, access | viewFlag(view64), &key_);
    }
    LONG create(HKEY root, const QString& path, REGSAM access, bool view64) {
        return RegCreateKeyExW(root, path.toStdWString().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               access | viewFlag(view64), nullptr, &key_, nullptr);
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Absent keys and values are an ordinary answer; anything else is worth a line in the log.
void logUnexpected(LONG rc, const char* operation, const QString& key) {
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        LOG_WARN << operation << " " << key << " failed: " << Utility::formatWinError(rc);
    }
}

QVariant toVariant(DWORD type, const std::vector<BYTE>& data) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            std::wstring text(data.size() / sizeof(wchar_t), L'\0');
            std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
            // Stored strings normally carry their NUL, but Windows does not enforce it.
            const auto end = text.find(L'\0');
            if (end != std::wstring::npos) text.resize(end);
            return QString::fromStdWString(text);
        }
        case REG_DWORD: {
            if (data.size() < sizeof(DWORD)) return {};
            DWORD number = 0;
            std::memcpy(&number, data.data(), sizeof number);
            return QVariant(static_cast<uint>(number));
        }
        case REG_QWORD: {
            if (data.size() < sizeof(ULONGLONG)) return {};
            ULONGLONG number = 0;
            std::memcpy(&number, data.data(), sizeof number);
            return QVariant(static_cast<qulonglong>(number));
        }
        case REG_BINARY:
            return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()));
        default:
            return {};
    }
}

// The bytes RegSetValueExW expects for `type`; false when the variant does not convert.
bool toRegistryData(DWORD type, const QVariant& value, std::vector<BYTE>& data) {
    auto assign = [&data](const void* bytes, std::size_t size) {
        const auto* begin = static_cast<const BYTE*>(bytes);
        data.assign(begin, begin + size);
    };
    bool ok = true;
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            const std::wstring text = value.toString().toStdWString();
            assign(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
            return true;
        }
        case REG_DWORD: {
            const DWORD number = value.toUInt(&ok);
            assign(&number, sizeof number);
            return ok;
        }
        case REG_QWORD: {
            const ULONGLONG number = value.toULongLong(&ok);
            assign(&number, sizeof number);
            return ok;
        }
        case REG_BINARY: {
            const QByteArray bytes = value.toByteArray();
            assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

bool Utility::registryKeyExists(HKEY root, const QString& key, bool view64) {
    RegistryKey opened;
    const LONG rc = opened.open(root, key, KEY_READ, view64);
    logUnexpected(rc, "open", key);
    return rc == ERROR_SUCCESS;
}

QVariant Utility::registryGetKeyValue(HKEY root, const QString& key, const QString& valueName, bool view64) {
    RegistryKey opened;
    LONG rc = opened.open(root, key, KEY_QUERY_VALUE, view64);
    if (rc != ERROR_SUCCESS) {
        logUnexpected(rc, "open", key);
        return {};
    }
    const std::wstring name = valueName.toStdWString();
    DWORD type = 0;
    DWORD size = 0;
    std::vector<BYTE> data;
    // Another writer may enlarge the value between the size query and the read.
    do {
        rc = RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) break;
        data.resize(size);
        rc = RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, data.data(), &size);
    } while (rc == ERROR_MORE_DATA);
    if (rc != ERROR_SUCCESS) {
        logUnexpected(rc, "query value", key + "\\" + valueName);
        return {};
    }
    data.resize(size);
    return toVariant(type, data);
}

bool Utility::registrySetKeyValue(HKEY root, const QString& key, const QString& valueName, DWORD regType,
                                  const QVariant& value, bool view64) {
    std::vector<BYTE> data;
    if (!toRegistryData(regType, value, data)) {
        LOG_WARN << "cannot store " << value.toString() << " as registry type " << regType << " in " << key;
        return false;
    }
    RegistryKey created;
    LONG rc = created.create(root, key, KEY_SET_VALUE, view64);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(created.get(), valueName.toStdWString().c_str(), 0, regType, data.data(),
                            static_cast<DWORD>(data.size()));
    }
    if (rc != ERROR_SUCCESS) LOG_WARN << "set value " << key << "\\" << valueName << " failed: " << formatWinError(rc);
    return rc == ERROR_SUCCESS;
}

bool Utility::registryDeleteKeyTree(HKEY root, const QString& key, bool view64) {
    QString path = key;
    while (path.endsWith(QLatin1Char('\\'))) path.chop(1);
    const int split = path.lastIndexOf(QLatin1Char('\\'));
    // RegDeleteTreeW has no view flag: the view comes from the parent handle it is given.
    RegistryKey parent;
    LONG rc = parent.open(root, split < 0 ? QString() : path.left(split),
                          DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, view64);
    if (rc == ERROR_SUCCESS) rc = RegDeleteTreeW(parent.get(), path.mid(split + 1).toStdWString().c_str());
    logUnexpected(rc, "delete tree", key);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool Utility::registryWalkSubKeys(HKEY root, const QString& key,
                                  const std::function<void(HKEY, const QString&)>& callback, bool view64) {
    RegistryKey parent;
    LONG rc = parent.open(root, key, KEY_READ, view64);
    if (rc != ERROR_SUCCESS) {
        logUnexpected(rc, "open", key);
        return false;
    }
    // Names first: callbacks may delete the very sub-keys being walked.
    std::vector<QString> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxKeyNameChars];
        DWORD length = kMaxKeyNameChars;
        rc = RegEnumKeyExW(parent.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) break;
        names.push_back(QString::fromWCharArray(name, static_cast<int>(length)));
    }
    if (rc != ERROR_NO_MORE_ITEMS) {
        logUnexpected(rc, "enumerate", key);
        return false;
    }
    for (const QString& name : names) {
        RegistryKey child;
        if (child.open(parent.get(), name, KEY_READ, view64) != ERROR_SUCCESS) continue;
        callback(child.get(), name);
    }
    return true;
}

QString Utility::formatWinError(long error) {
    wchar_t buffer[kFormatBufferChars];
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(error),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, kFormatBufferChars, nullptr);
    if (length == 0) {
        return QString("Unknown error 0x%1").arg(static_cast<quint32>(error), 8, 16, QLatin1Char('0'));
    }
    return QString::fromWCharArray(buffer, static_cast<int>(length)).trimmed();
}

BOOL Utility::IsWow64() {
    // WOW64 is a program built for a narrower CPU than the system runs (Qt asks IsWow64Process
    // itself on Windows); a native build, such as this 64-bit one, answers FALSE.
    return QSysInfo::buildCpuArchitecture() != QSysInfo::currentCpuArchitecture() ? TRUE : FALSE;
}
