// GetExtendedTcpTable over /proc/net/tcp and /proc/net/tcp6 (its IPv4-mapped rows). Each row names
// the socket's inode; the process that owns the socket is the one whose descriptor table holds
// that inode, which this process can see only for processes it may inspect. Like Windows' table
// it is no atomic snapshot: while connections come and go, one may be missing from a reading.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/iphlpapi.h"
#include "platform/win_error.h"

namespace {

constexpr ULONG kAfInet = 2;
constexpr DWORD kLinuxListen = 0x0A;
// The IPv6 form of an IPv4-mapped address, as /proc/net/tcp6 prints its first three words.
constexpr char kMappedPrefix[] = "0000000000000000FFFF0000";

struct Connection {
    MIB_TCPROW_OWNER_PID row{};
    unsigned long inode = 0;
};

DWORD windowsState(DWORD linuxState) {
    static const DWORD kStates[] = {MIB_TCP_STATE_CLOSED,    MIB_TCP_STATE_ESTAB,     MIB_TCP_STATE_SYN_SENT,
                                    MIB_TCP_STATE_SYN_RCVD,  MIB_TCP_STATE_FIN_WAIT1, MIB_TCP_STATE_FIN_WAIT2,
                                    MIB_TCP_STATE_TIME_WAIT, MIB_TCP_STATE_CLOSED,    MIB_TCP_STATE_CLOSE_WAIT,
                                    MIB_TCP_STATE_LAST_ACK,  MIB_TCP_STATE_LISTEN,    MIB_TCP_STATE_CLOSING};
    return linuxState < std::size(kStates) ? kStates[linuxState] : static_cast<DWORD>(MIB_TCP_STATE_CLOSED);
}

// "0100007F:1F90", or its IPv4-mapped IPv6 form: the address as the kernel keeps it (network
// order) and the port turned to network order. False for any other IPv6 address.
bool parseEndpoint(const std::string& text, DWORD& address, DWORD& port) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    std::string host = text.substr(0, colon);
    if (host.size() == 32 && host.compare(0, 24, kMappedPrefix) == 0) host = host.substr(24);
    if (host.size() != 8) return false;
    address = static_cast<DWORD>(std::strtoul(host.c_str(), nullptr, 16));
    const auto hostPort = static_cast<DWORD>(std::strtoul(text.c_str() + colon + 1, nullptr, 16));
    port = ((hostPort & 0xFF) << 8) | ((hostPort >> 8) & 0xFF);
    return true;
}

void readTable(const char* path, TCP_TABLE_CLASS tableClass, std::vector<Connection>& connections) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);  // the column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        Connection connection;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
              connection.inode)) {
            continue;
        }
        const auto linuxState = static_cast<DWORD>(std::strtoul(state.c_str(), nullptr, 16));
        const bool listening = linuxState == kLinuxListen;
        if ((tableClass == TCP_TABLE_OWNER_PID_LISTENER && !listening) ||
            (tableClass == TCP_TABLE_OWNER_PID_CONNECTIONS && listening)) {
            continue;
        }
        MIB_TCPROW_OWNER_PID& row = connection.row;
        if (!parseEndpoint(local, row.dwLocalAddr, row.dwLocalPort) ||
            !parseEndpoint(remote, row.dwRemoteAddr, row.dwRemotePort)) {
            continue;
        }
        row.dwState = windowsState(linuxState);
        connections.push_back(connection);
    }
}

bool isNumber(const char* text) {
    if (!*text) return false;
    for (; *text; ++text) {
        if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
    }
    return true;
}

// Where an owner was found: its process and the descriptor that held the socket.
struct Owner {
    DWORD pid = 0;
    std::string descriptor;  // "/proc/PID/fd/N"
};

std::string socketTarget(unsigned long inode) { return "socket:[" + std::to_string(inode) + "]"; }

bool holds(const std::string& descriptor, unsigned long inode) {
    char target[64];
    const ssize_t length = ::readlink(descriptor.c_str(), target, sizeof target - 1);
    return length > 0 && std::string(target, static_cast<std::size_t>(length)) == socketTarget(inode);
}

// This process first, then the newest: the far end of a fresh connection is most often one of them.
std::vector<DWORD> processesToSearch() {
    std::vector<DWORD> pids;
    if (DIR* processes = ::opendir("/proc")) {
        while (dirent* process = ::readdir(processes)) {
            if (isNumber(process->d_name))
                pids.push_back(static_cast<DWORD>(std::strtoul(process->d_name, nullptr, 10)));
        }
        ::closedir(processes);
    }
    const auto self = static_cast<DWORD>(::getpid());
    std::sort(pids.begin(), pids.end(), [self](DWORD a, DWORD b) { return a == self || (b != self && a > b); });
    return pids;
}

// What earlier calls learnt, checked again before use: a descriptor table read costs far more than
// one link, and most connections outlive many calls. A socket found in no table is searched for
// again by the next call: a descriptor table read while its process opens and closes descriptors
// may skip entries, so "not found" is never remembered.
struct Knowledge {
    std::map<unsigned long, Owner> owners;
};
std::mutex knowledgeMutex;
Knowledge& knowledge() {
    static auto* known = new Knowledge;
    return *known;
}

// Fills each connection's owner from the descriptor tables this process may read.
void findOwners(std::vector<Connection>& connections) {
    Knowledge known;
    {
        std::lock_guard<std::mutex> lock(knowledgeMutex);
        known = knowledge();
    }
    Knowledge learnt;
    std::map<unsigned long, Connection*> missing;
    for (Connection& connection : connections) {
        if (connection.inode == 0) continue;
        auto earlier = known.owners.find(connection.inode);
        if (earlier != known.owners.end() && holds(earlier->second.descriptor, connection.inode)) {
            connection.row.dwOwningPid = earlier->second.pid;
            learnt.owners[connection.inode] = earlier->second;
        } else {
            missing[connection.inode] = &connection;
        }
    }
    for (DWORD pid : missing.empty() ? std::vector<DWORD>() : processesToSearch()) {
        const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
        DIR* descriptors = ::opendir(folder.c_str());
        if (!descriptors) continue;
        while (dirent* descriptor = ::readdir(descriptors)) {
            const std::string path = folder + "/" + descriptor->d_name;
            char target[64];
            const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
            if (length <= 0) continue;
            target[length] = '\0';
            unsigned long inode = 0;
            if (std::sscanf(target, "socket:[%lu]", &inode) != 1) continue;
            auto wanted = missing.find(inode);
            if (wanted == missing.end()) continue;
            wanted->second->row.dwOwningPid = pid;
            learnt.owners[inode] = Owner{pid, path};
            missing.erase(wanted);
        }
        ::closedir(descriptors);
        if (missing.empty()) break;
    }
    std::lock_guard<std::mutex> lock(knowledgeMutex);
    knowledge() = std::move(learnt);
}

}  // namespace

extern "C" DWORD GetExtendedTcpTable(PVOID table, PDWORD size, BOOL order, ULONG family, TCP_TABLE_CLASS tableClass,
                                     ULONG) {
    if (!size || family != kAfInet || tableClass < TCP_TABLE_OWNER_PID_LISTENER ||
        tableClass > TCP_TABLE_OWNER_PID_ALL) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<Connection> connections;
    readTable("/proc/net/tcp", tableClass, connections);
    readTable("/proc/net/tcp6", tableClass, connections);
    const DWORD needed = static_cast<DWORD>(
        std::max(sizeof(MIB_TCPTABLE_OWNER_PID),
                 offsetof(MIB_TCPTABLE_OWNER_PID, table) + connections.size() * sizeof(MIB_TCPROW_OWNER_PID)));
    if (!table || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    findOwners(connections);
    if (order) {
        std::sort(connections.begin(), connections.end(), [](const Connection& a, const Connection& b) {
            return std::tie(a.row.dwLocalAddr, a.row.dwLocalPort, a.row.dwRemoteAddr, a.row.dwRemotePort) <
                   std::tie(b.row.dwLocalAddr, b.row.dwLocalPort, b.row.dwRemoteAddr, b.row.dwRemotePort);
        });
    }
    auto* out = static_cast<MIB_TCPTABLE_OWNER_PID*>(table);
    out->dwNumEntries = static_cast<DWORD>(connections.size());
    MIB_TCPROW_OWNER_PID* rows = out->table;  // as many as the caller's buffer holds, not one
    for (std::size_t i = 0; i < connections.size(); ++i) rows[i] = connections[i].row;
    *size = needed;
    return NO_ERROR;
}
