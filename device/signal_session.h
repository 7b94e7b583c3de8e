#pragma once
#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "device/device_counters.h"
#include "device/device_settings.h"
#include "device/stream_set.h"
#include "net/my_socket.h"

constexpr int32_t DEV_ID_SIZE = 40;  // at most 39 characters
constexpr int32_t DEV_SIGNAL_MAX_BUF = 60000;

// A device's signalling connection to the Register Server: opening and
// reopening it, the login and its times, and the dispatcher of what the
// server sends.
//
// Threads: the loop thread that serves sigSocket owns the login (SendLogin,
// OnSocketEvent and everything the dispatcher does). The connection is
// opened and closed from the operator's thread (ConnectReg, GoOffline), the online ramp's (ConnectReg) and the driver thread
// (AutoOfflineIfDue, ReconnectIfDue), serialised by connectLock. Only the
// flags other threads read are shared, each a 32-bit atomic behind an
// accessor.
class CSignalSession {
 public:
  // settings gives the server's address, counters take the failed opens.
  CSignalSession(CDeviceSettings& settings, DeviceCounters& counters);
  CSignalSession(const CSignalSession&) = delete;
  CSignalSession& operator=(const CSignalSession&) = delete;

  // --- set before the device is shared ---
  void SetId(const char* id);
  const char* Id() const { return szId; }
  // The stream set the media requests go to (null: left unanswered).
  void AttachStreams(IStreamSet* streams) { pStreams = streams; }
  IStreamSet* Streams() const { return pStreams; }

  // --- flags (safe from any thread) ---
  bool IsOnline() const { return bOnline.load(std::memory_order_relaxed) != 0; }
  bool WantsOnline() const { return bWantOnline.load(std::memory_order_relaxed) != 0; }
  // The tick count of the last login answer.
  uint32_t LoginTime() const { return dwLoginTime.load(std::memory_order_relaxed); }
  // Set a flag alone, without any connect, close or login: tests and
  // benchmarks stand for a login (or its loss) with them.
  void SetOnlineFlag(int32_t b) { bOnline.store(b); }
  void SetWantOnlineFlag(int32_t b) { bWantOnline.store(b); }
  const std::atomic<int32_t>& OnlineFlag() const { return bOnline; }
  // Source address of every connection (host order; 0: any). Any thread.
  void SetLocalAddr(uint32_t ip) { nLocalAddr.store(ip); }
  uint32_t LocalAddr() const { return nLocalAddr.load(); }

  // --- the connection ---
  // (Re)opens the signalling connection; always 0. Serialised by connectLock.
  int ConnectReg();
  // The Offline command: the device stops wanting to be online and its
  // connection is closed. Operator's thread.
  void GoOffline();
  // The same without waiting: the device stops wanting to be online at once,
  // and done runs once its share thread has let go of the connection (on
  // that thread, or at once when there is none), so that many devices taken
  // offline together are released by their groups at once and the caller
  // waits once for all of them. Operator's thread.
  void GoOffline(std::function<void()> done);
  // Closing the program: the connection is detached from its share thread
  // without an event. Operator's thread.
  void PrepareExit();
  // Automatic offline after nAutoOffline seconds logged in (0: never): the
  // connection is closed silently and reconnection follows. Driver thread.
  void AutoOfflineIfDue(uint32_t now, int32_t nAutoOffline);
  // A device that wants to be online and is not tries again once the
  // reconnect period since its last connect has passed. Driver thread.
  void ReconnectIfDue(uint32_t now);
  // Sends value as one packet; logs the text when bLog is set. True when the
  // socket accepted it. Any thread.
  bool SendSignalPacket(const Json::Value& value, uint32_t timeoutMs, int bLog);
  // A reply to one of the server's requests: sent logged, and counted. Any thread.
  bool SendReply(const Json::Value& reply, uint32_t timeoutMs);
  // The connection itself: the uploads' bursts are handed to it (driver
  // thread), the media streams share its group. Opens and closes go through
  // the session.
  CMySocket& Socket() { return sigSocket; }
  const CMySocket& Socket() const { return sigSocket; }

  // --- the login (loop thread) ---
  // Sends the CONNECT message.
  void SendLogin();
  // SocketCallback of sigSocket; pUser is the session.
  static int OnSocketEvent(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port, int32_t event);

  // --- dispatcher (dispatcher.cpp, replies.cpp; loop thread) ---
  void OnSignalPacket(const uint8_t* data, int32_t len);
  void DispatchSignal(const char* text, int32_t len);
  // The server's answer to the CONNECT: the device is online.
  void OnConnectReply(const Json::Value& reply);
  void ReplyCalendar(const Json::Value& request);
  void ReplyFileList(const Json::Value& request);
  void ReplyVersionInfo(const Json::Value& request);

 private:
  void CloseSignal();
  // Counts why the connection being replaced by a reconnect never served.
  void CountAbandonedAttempt();
  // The times of a login (dispatcher.cpp).
  void RecordLoginTimes(uint32_t now);

  CDeviceSettings& settings;
  DeviceCounters& counters;
  IStreamSet* pStreams = nullptr;
  char szId[DEV_ID_SIZE] = {};  // written before the device is shared

  std::atomic<int32_t> bOnline{0};
  std::atomic<int32_t> bWantOnline{0};
  std::atomic<uint32_t> nLocalAddr{0};
  std::atomic<uint32_t> dwLoginTime{0};
  // The login time: when the CONNECT of the connection now held left
  // (GetMicroTicks), and whether its answer is still awaited.
  std::atomic<uint32_t> dwLoginSentUs{0};
  std::atomic<int32_t> bLoginPending{0};
  // The recovery time: when the device lost its login without being asked
  // to (tick count), and whether it has not logged in since. An operator's
  // offline or delete ends the wait without a time.
  std::atomic<uint32_t> dwLoginLost{0};
  std::atomic<int32_t> bRecovering{0};
  std::atomic<uint32_t> dwLastConnect{0};

  std::mutex connectLock;  // serialises ConnectReg and the closes of sigSocket
  CMySocket sigSocket;
};
