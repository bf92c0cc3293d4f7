#pragma once
// The Winsock 2 subset Nimbrel calls (IPv4 stream sockets), with Windows names, values and
// signatures. Structures have the Windows layout; the stand-in translates them at its boundary.
//
// The functions have C++ linkage on purpose: their Windows names (socket, bind, send, ...) are also
// the C library's BSD socket functions, which the rest of the process (libcurl, Qt, the sanitizer
// runtime) keeps calling with their own signatures. C++ linkage keeps the two sets apart, so a file
// must include either this header or the system's socket headers, never both.

#include "platform/win_types.h"

using SOCKET = UINT_PTR;
using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;
// The same type as the C library's BSD u_long, which most files see as well; 32 bits wide on
// Windows, so only the low 32 bits carry meaning (htonl).
using u_long = unsigned long;

#define INVALID_SOCKET (static_cast<SOCKET>(~static_cast<SOCKET>(0)))
#define SOCKET_ERROR (-1)

#define AF_UNSPEC 0
#define AF_INET 2
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define SOMAXCONN 0x7fffffff
#define INADDR_ANY static_cast<u_long>(0x00000000)
#define INADDR_LOOPBACK static_cast<u_long>(0x7f000001)
#define SOL_SOCKET 0xffff
#define SO_RCVTIMEO 0x1006
#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#ifndef MAKEWORD
#define MAKEWORD(low, high) \
    static_cast<WORD>((static_cast<BYTE>(low)) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8))
#endif
#ifndef LOBYTE
#define LOBYTE(w) static_cast<BYTE>(static_cast<DWORD_PTR>(w) & 0xff)
#endif
#ifndef HIBYTE
#define HIBYTE(w) static_cast<BYTE>((static_cast<DWORD_PTR>(w) >> 8) & 0xff)
#endif

// Winsock error codes (WSAGetLastError).
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSASYSCALLFAILURE 10107

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

// The 32-bit layout: the product is a 32-bit DLL.
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

struct in_addr {
    union {
        struct {
            UCHAR s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            USHORT s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
};
#define s_addr S_un.S_addr
using IN_ADDR = in_addr;

struct sockaddr {
    USHORT sa_family;
    CHAR sa_data[14];
};
using SOCKADDR = sockaddr;
using PSOCKADDR = sockaddr*;
using LPSOCKADDR = sockaddr*;

struct sockaddr_in {
    SHORT sin_family;
    USHORT sin_port;
    in_addr sin_addr;
    CHAR sin_zero[8];
};
using SOCKADDR_IN = sockaddr_in;
using PSOCKADDR_IN = sockaddr_in*;

// Every call except WSAStartup fails with WSANOTINITIALISED while no WSAStartup is in effect.
int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
// The calling thread's last error, shared with GetLastError as on Windows.
int WSAGetLastError();
void WSASetLastError(int error);

// Sockets are not inherited by child processes; send never raises a signal on a closed peer.
SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* address, int* addressLength);
int connect(SOCKET s, const sockaddr* name, int nameLength);
int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
int shutdown(SOCKET s, int how);
// SOL_SOCKET / SO_RCVTIMEO only, with a DWORD of milliseconds (0: wait for ever); a receive that
// waits longer fails with WSAETIMEDOUT.
int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength);
int closesocket(SOCKET s);
int getsockname(SOCKET s, sockaddr* name, int* nameLength);
int getpeername(SOCKET s, sockaddr* name, int* nameLength);

u_short htons(u_short value);
u_short ntohs(u_short value);
u_long htonl(u_long value);
// AF_INET only: 1 for a dotted IPv4 address, 0 for any other text, -1 (WSAEAFNOSUPPORT) for
// another family.
int inet_pton(int family, const char* text, void* address);
