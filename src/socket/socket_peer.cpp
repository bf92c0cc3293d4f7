#include "socket/socket_peer.h"

#include <vector>

#include "platform/iphlpapi.h"
#include "platform/win_token.h"
#include "platform/windows.h"

namespace {

// Rounds of asking for the table: connections may appear between the size query and the copy.
constexpr int kTableAttempts = 4;
constexpr std::size_t kHeadroomRows = 64;
// Readings of the table, a moment apart: one taken while other connections come and go may miss
// this one (the system's table is no atomic snapshot).
constexpr int kReadings = 8;
constexpr DWORD kReadingPauseMs = 2;

// The process that owns the loopback connection from `peerPort` to `serverPort`; 0 when the
// table does not list it.
DWORD listedOwner(int peerPort, int serverPort) {
    std::vector<unsigned char> buffer;
    DWORD needed = 0;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < kTableAttempts && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        // Room for the connections that open between the size query and the copy.
        buffer.resize(needed + needed / 2 + kHeadroomRows * sizeof(MIB_TCPROW_OWNER_PID));
        DWORD size = static_cast<DWORD>(buffer.size());
        result = GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        needed = size;
    }
    if (result != NO_ERROR) return 0;
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    const MIB_TCPROW_OWNER_PID* rows = table->table;  // dwNumEntries of them, whatever the declared size
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& row = rows[i];
        if (row.dwLocalAddr == htonl(INADDR_LOOPBACK) && ntohs(static_cast<u_short>(row.dwLocalPort)) == peerPort &&
            ntohs(static_cast<u_short>(row.dwRemotePort)) == serverPort) {
            return row.dwOwningPid;
        }
    }
    return 0;
}

DWORD owningProcess(int peerPort, int serverPort) {
    DWORD owner = 0;
    for (int reading = 0; reading < kReadings && owner == 0; ++reading) {
        if (reading > 0) Sleep(kReadingPauseMs);
        owner = listedOwner(peerPort, serverPort);
    }
    return owner;
}

// The TOKEN_USER of `token` in a buffer of its own; empty when it cannot be read.
std::vector<unsigned char> tokenUser(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    std::vector<unsigned char> user(size);
    if (!GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
    return user;
}

std::vector<unsigned char> processUser(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return {};
    std::vector<unsigned char> user;
    HANDLE token = nullptr;
    if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
        user = tokenUser(token);
        CloseHandle(token);
    }
    CloseHandle(process);
    return user;
}

PSID sidOf(std::vector<unsigned char>& user) { return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid; }

}  // namespace

bool peerIsSameUser(const TcpSocket& client) {
    const DWORD peer = owningProcess(client.peerPort(), client.localPort());
    if (peer == 0) return false;
    std::vector<unsigned char> peerUser = processUser(peer);
    std::vector<unsigned char> ownUser = tokenUser(GetCurrentThreadEffectiveToken());
    return !peerUser.empty() && !ownUser.empty() && EqualSid(sidOf(peerUser), sidOf(ownUser));
}
