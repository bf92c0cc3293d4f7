// What the menu commands learn about the selection and the machine: the items below a selected
// folder, and whether a process of a given name runs.
#include <iostream>

#include "cfapi/cf_api_wrapper.h"
#include "platform/windows.h"
#include "socket/socket_api.h"
#include "suite/logbridge/spdlog_bridge.h"

void SocketApi::directory2Filelist(const QString& path, QStringList& list) {
    LOG_INFO << "begin directory2Filelist";
    list.append(path);
    const DWORD attributes = GetFileAttributesW(CfApiWrapper::toLongPath(path).toStdWString().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    const QString folder = path.endsWith('\\') ? path : path + '\\';
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW(CfApiWrapper::toLongPath(folder + '*').toStdWString().c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const QString name = QString::fromWCharArray(entry.cFileName);
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            list.append(folder + name);
        } else if (name.compare(".", Qt::CaseInsensitive) != 0 && name.compare("..", Qt::CaseInsensitive) != 0) {
            directory2Filelist(folder + name, list);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

bool SocketApi::isProcessRunning(const QString& executableName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        std::cerr << "Failed to create snapshot of processes." << std::endl;
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot, &entry)) {
        std::cerr << "Failed to retrieve the first process." << std::endl;
        CloseHandle(snapshot);
        return false;
    }
    bool found = false;
    do {
        found = QString::fromWCharArray(entry.szExeFile).compare(executableName, Qt::CaseInsensitive) == 0;
    } while (!found && Process32NextW(snapshot, &entry));
    CloseHandle(snapshot);
    return found;
}
