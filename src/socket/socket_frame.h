#pragma once
// The frame of the context-menu socket, the same in both directions: the marker FF FF FF FF, the
// body length as signed 32-bit little-endian, then the body.

#include <cstdint>
#include <string>

#include "socket/tcp_socket.h"

// Bodies above 10 MiB are refused.
inline constexpr std::int32_t kMaxFrameBody = 0xA00000;

// One frame's body; false on a bad marker, a negative or oversized length, an error, or a
// connection that ends before the whole body has arrived.
bool readFrame(TcpSocket& socket, std::string& body);
// 0 once every byte is out; -1 at the first send error.
int writeFrame(TcpSocket& socket, const std::string& body);
