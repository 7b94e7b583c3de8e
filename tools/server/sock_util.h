#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Thin wrappers over the socket calls the server makes, each with a plain
// result: a descriptor or -1 (errno kept), a byte count, true/false.

// A non-blocking TCP listener bound to ip:port (port 0: the system picks).
// Returns the descriptor, or -1 with a reason in error.
int OpenListener(const std::string& ip, uint16_t port, std::string* error, bool bReusePort = false);

// The port a bound socket has, 0 when it cannot be read.
uint16_t LocalPort(int fd);

// Accepts one connection, non-blocking and without Nagle's delay. Returns the
// descriptor, or -1 with errno set (EAGAIN when none is waiting). peer gets
// "ip:port".
int AcceptConnection(int listenFd, std::string* peer);
// The local IPv4 address of a connected socket, dotted; empty when unknown.
std::string LocalIp(int fd);

// recv without blocking: bytes read, 0 when the peer closed, -1 on error
// (errno EAGAIN when nothing is there).
long RecvSome(int fd, uint8_t* buf, size_t len);

// send without blocking and without SIGPIPE: bytes taken, or -1 (errno).
long SendSome(int fd, const uint8_t* buf, size_t len);

// True for the errno values that mean "try again later".
bool WouldBlock(int err);
