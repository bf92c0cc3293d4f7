// The host executable carries a certificate and its key ("DATA" resources 102 and 103); the server
// writes them to a fresh folder below the temp folder at every start, for the suite's components
// that want them. Nothing here reads them back, and the folder stays after exit.
#include <QString>
#include <cstdio>

#include "platform/win_resource.h"
#include "platform/windows.h"
#include "socket/socket_api.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr WORD kCertificateResource = 102;
constexpr WORD kKeyResource = 103;

std::wstring guidText() {
    GUID guid{};
    CoCreateGuid(&guid);
    char text[64];
    std::snprintf(text, sizeof text, "%08lX-%04hX-%04hX-%02hhX%02hhX-%02hhX%02hhX%02hhX%02hhX%02hhX%02hhX",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return QString::fromLatin1(text).toStdWString();
}

// The whole resource in one write to a file created anew; a resource the executable lacks leaves
// the file empty.
void writeResource(WORD resourceId, const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LOG_WARN << "cannot create " << path << ", error = " << GetLastError();
        return;
    }
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCE(resourceId), L"DATA");
    if (resource) {
        const void* data = LockResource(LoadResource(nullptr, resource));
        DWORD written = 0;
        WriteFile(file, data, SizeofResource(nullptr, resource), &written, nullptr);
    }
    CloseHandle(file);
}

}  // namespace

void SocketApi::extractCertificate() {
    wchar_t tempPath[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, tempPath);
    const std::wstring directory = tempPath + guidText();
    CreateDirectoryW(directory.c_str(), nullptr);

    const std::wstring certificate = directory + L"\\server.crt";
    const std::wstring key = directory + L"\\server.key";
    writeResource(kCertificateResource, certificate);
    writeResource(kKeyResource, key);
    certificatePath_ = QString::fromStdWString(certificate).toStdString();
    keyPath_ = QString::fromStdWString(key).toStdString();
}
