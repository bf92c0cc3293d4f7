#pragma once
// The IP Helper subset Nimbrel calls: the table of TCP connections with the process that owns each
// end, as GetExtendedTcpTable answers it on Windows. IPv4 only (the context-menu server listens
// on 127.0.0.1).

#include "platform/win_types.h"

#ifndef NO_ERROR
#define NO_ERROR 0L
#endif
#define ANY_SIZE 1

enum TCP_TABLE_CLASS {
    TCP_TABLE_BASIC_LISTENER,
    TCP_TABLE_BASIC_CONNECTIONS,
    TCP_TABLE_BASIC_ALL,
    TCP_TABLE_OWNER_PID_LISTENER,
    TCP_TABLE_OWNER_PID_CONNECTIONS,
    TCP_TABLE_OWNER_PID_ALL,
    TCP_TABLE_OWNER_MODULE_LISTENER,
    TCP_TABLE_OWNER_MODULE_CONNECTIONS,
    TCP_TABLE_OWNER_MODULE_ALL
};

enum MIB_TCP_STATE {
    MIB_TCP_STATE_CLOSED = 1,
    MIB_TCP_STATE_LISTEN = 2,
    MIB_TCP_STATE_SYN_SENT = 3,
    MIB_TCP_STATE_SYN_RCVD = 4,
    MIB_TCP_STATE_ESTAB = 5,
    MIB_TCP_STATE_FIN_WAIT1 = 6,
    MIB_TCP_STATE_FIN_WAIT2 = 7,
    MIB_TCP_STATE_CLOSE_WAIT = 8,
    MIB_TCP_STATE_CLOSING = 9,
    MIB_TCP_STATE_LAST_ACK = 10,
    MIB_TCP_STATE_TIME_WAIT = 11,
    MIB_TCP_STATE_DELETE_TCB = 12
};

// Addresses in network byte order; ports in network byte order in the low 16 bits.
struct MIB_TCPROW_OWNER_PID {
    DWORD dwState;
    DWORD dwLocalAddr;
    DWORD dwLocalPort;
    DWORD dwRemoteAddr;
    DWORD dwRemotePort;
    DWORD dwOwningPid;
};

struct MIB_TCPTABLE_OWNER_PID {
    DWORD dwNumEntries;
    MIB_TCPROW_OWNER_PID table[ANY_SIZE];
};

extern "C" {
// TCP_TABLE_OWNER_PID_LISTENER, _CONNECTIONS and _ALL for AF_INET (2); any other class or family
// answers ERROR_INVALID_PARAMETER. A buffer too small (or none) answers ERROR_INSUFFICIENT_BUFFER
// with the size needed in *size. A connection whose owner this process may not see is listed with
// owner 0.
DWORD GetExtendedTcpTable(PVOID table, PDWORD size, BOOL order, ULONG family, TCP_TABLE_CLASS tableClass,
                          ULONG reserved);
}
