#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Setting up the TCP sockets of this system, each call wrapped once with a
// plain result: a descriptor or -1 (errno kept), true/false. Every socket made
// here is non-blocking and closed on exec. Safe from any thread.

// A non-blocking, close-on-exec IPv4 TCP socket, or -1.
int OpenTcpSocket();
// Sends small writes at once instead of gathering them (TCP_NODELAY).
bool SetNoDelay(int fd);
// Makes close() reset the connection (SO_LINGER 0): unsent bytes are dropped
// and the port is not left in TIME_WAIT.
bool SetResetOnClose(int fd);
// The kernel's receive buffer (SO_RCVBUF); bytes <= 0 leaves the system's.
bool SetReceiveBuffer(int fd, int32_t bytes);

// A non-blocking TCP listener bound to ip:port (port 0: the system picks).
// Returns the descriptor, or -1 with a reason in error.
int OpenListener(const std::string& ip, uint16_t port, std::string* error, bool bReusePort = false);
// Accepts one connection, non-blocking, close-on-exec and without Nagle's
// delay. Returns the descriptor, or -1 with errno set (EAGAIN when none is
// waiting). peer (may be null) gets "ip:port".
int AcceptConnection(int listenFd, std::string* peer);

// The port a bound socket has, 0 when it cannot be read.
uint16_t LocalPort(int fd);
// The local IPv4 address of a connected socket, dotted; empty when unknown.
std::string LocalIp(int fd);

// recv without blocking, again after an interruption: bytes read, 0 when the
// peer closed, -1 on error (errno EAGAIN when nothing is there).
ssize_t RecvNoWait(int fd, void* buf, size_t len);
// send without blocking and without SIGPIPE, again after an interruption:
// bytes taken, or -1 (errno).
ssize_t SendNoWait(int fd, const void* data, size_t len);
// True for the errno values that mean "try again later".
bool WouldBlock(int err);
