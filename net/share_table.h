#pragma once
#include <cstdint>

class CMySocket;

// The process-wide table of share groups that serve connect-mode sockets.

// Puts sock into the first empty slot of the table, starting the group's
// thread when needed. 0 on success; 1 when the thread could not be started;
// 2 when the table is full. Safe from any thread.
int ShareRegister(CMySocket* sock);

// Wakes the share thread serving sock, so that it looks at the socket's flags
// at once instead of at the end of its 1-second wait.
void ShareWake(CMySocket* sock);

// Wakes sock's share thread and waits up to timeoutMs until it has released
// the socket. True when released.
bool ShareWaitReleased(CMySocket* sock, int32_t timeoutMs);

// True when the calling thread is the share thread of group g.
bool ShareIsOwnThread(int32_t group);

// Empties sock's slot from the serving thread itself (Close on a share thread).
void ShareReleaseOwn(CMySocket* sock);
