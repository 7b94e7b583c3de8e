#pragma once
#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "device/device_properties.h"
#include "device/media_host.h"
#include "device/stream_set.h"
#include "net/my_socket.h"
#include "net/resolve.h"

constexpr int32_t DEV_ID_SIZE = 40;          // at most 39 characters
constexpr int32_t DEV_SERVER_IP_SIZE = 80;   // at most 79 characters
constexpr int32_t DEV_FRAME_PATH_SIZE = 400; // at most 399 characters
constexpr int32_t DEV_SIGNAL_MAX_BUF = 60000;

// One simulated vehicle recorder: its signalling connection to the Register
// Server, its identity, its seven behaviour settings, the counters and timers
// of its periodic uploads, and its media streams (an IStreamSet, made by the
// maker installed at start-up; none without one).
//
// Threads: the operator's thread (ConnectReg, GoOffline, Shutdown, settings),
// the driver thread (Tick), the share thread of sigSocket (OnSocketEvent and
// everything the dispatcher does) and the media threads. Every field that
// crosses threads is a 32-bit atomic; the two texts written by the operator
// while others read them (szServerIp, szFramePath) are guarded by textLock.
class CUploadBurst;

class CDevQ5 : public IMediaHost {
 public:
  CDevQ5();
  ~CDevQ5() override;
  CDevQ5(const CDevQ5&) = delete;
  CDevQ5& operator=(const CDevQ5&) = delete;

  // --- simulated position and counters (driver thread, except where atomic) ---
  int32_t nSpeed = 20;
  int32_t nLongitude = 1135598;
  int32_t nLatitude = 223310;
  uint32_t nSpeedAlarmUid = 0;
  uint32_t nVideoLostSeq = 0;
  std::atomic<int32_t> nGpsSent{0};
  std::atomic<uint32_t> nSosUidBase{0};
  std::atomic<uint32_t> nSosUid{0};
  // Alarm messages (speed, customised start and end, video lost, emergency)
  // that the socket accepted; read by the fleet's statistics.
  std::atomic<int32_t> nAlarmsSent{0};
  int32_t nGpsRow = 0;

  // --- timers (driver thread) ---
  uint32_t dwNow = 0;
  uint32_t dwLastKeepAlive = 0;
  uint32_t dwLastAlarm = 0;
  uint32_t dwLastGps = 0;
  bool bLoginSeen = false;  // bOnline as the previous Tick saw it
  // Where in each period the first uploads after a login fall (0: at once).
  // The fleet spreads its devices over the period, so that devices that log
  // in together do not all upload in the same driver pass. Any thread.
  std::atomic<uint32_t> nUploadPhaseMs{0};
  std::atomic<int32_t> nKeepAlivesSent{0};

  // --- media ---
  std::atomic<int32_t> bStopping{0};  // the device is going: senders end

  // --- connection and login ---
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
  char szFramePath[DEV_FRAME_PATH_SIZE] = {};  // guarded by textLock

  // --- settings ---
  std::atomic<int32_t> bAutoUpload{0};
  std::atomic<int32_t> nUploadInterval{10};
  std::atomic<int32_t> bGps{0};
  std::atomic<int32_t> nAutoOffline{0};
  std::atomic<int32_t> nLiveViewOff{0};
  std::atomic<int32_t> bCustomAlarm{1};
  std::atomic<int32_t> bSpeedAlarm{1};

  // --- connection state and identity ---
  std::atomic<int32_t> bWantOnline{0};
  char szServerIp[DEV_SERVER_IP_SIZE] = {};  // guarded by textLock
  std::atomic<int32_t> nServerPort{0};
  std::atomic<uint32_t> nServerAddr{0};  // szServerIp resolved (host order); 0: none
  std::atomic<uint32_t> nLocalAddr{0};   // source address of every connection (host order); 0: any
  // Opens of the signalling connection that failed at once (no address, no
  // room in the share table); each is retried like a refused connect.
  std::atomic<int32_t> nConnectFailures{0};
  char szId[DEV_ID_SIZE] = {};  // written before the device is shared
  int32_t nDevType = 0;
  std::atomic<int32_t> bOnline{0};
  CMySocket sigSocket;

  // --- login and connection (device.cpp) ---
  // (Re)opens the signalling connection; always 0. Safe from the operator's
  // and the driver thread at once (serialised by connectLock).
  int ConnectReg();
  // Sends the CONNECT message. Runs on the share thread.
  void SendLogin();
  // SocketCallback of sigSocket; pUser is the device. Runs on the share thread.
  static int OnSocketEvent(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port, int32_t event);
  // The Offline command. Operator's thread.
  void GoOffline();
  // The device stops wanting to be online and its signalling connection is
  // let go by its share thread without an event and without a wait, so that
  // many devices taken offline together are released by their groups at once
  // instead of one wait per device. GoOffline follows. Operator's thread.
  void DetachSignal();
  // Ends the device before it is destroyed: connection closed, every stream
  // stopped and its sender waited for. Operator's thread.
  void Shutdown();
  // First step of closing the program: senders told to stop, the signalling
  // socket detached from its share thread without an event.
  void PrepareExit();
  // Sends value on the signalling connection as one packet; logs the text
  // when bLog is set. True when the socket accepted it. Any thread.
  bool SendSignalPacket(const Json::Value& value, uint32_t timeoutMs, int bLog);
  // A reply to one of the server's requests: sent logged, and counted.
  bool SendReply(const Json::Value& reply, uint32_t timeoutMs);

  // --- texts shared across threads ---
  void SetId(const char* id);
  // The register server: its host text, port and resolved address (0 when
  // it has none: connects then fail and are retried).
  void SetServer(const char* host, int32_t port, uint32_t ip);
  // The same, resolving host here (a name lookup may block).
  void SetServer(const char* host, int32_t port);
  // Looks a host name up again (the address behind it may have moved after
  // a failed connect). Driver thread.
  void RefreshServerAddress();
  std::string GetServerIp() const;
  void SetFramePath(const char* path);
  std::string GetFramePath() const;
  DeviceProperties GetProperties() const;
  void SetProperties(const DeviceProperties& p);

  // --- dispatcher (dispatcher.cpp, replies.cpp) ---
  void OnSignalPacket(const uint8_t* data, int32_t len);
  void DispatchSignal(const char* text, int32_t len);
  void ReplyCalendar(const Json::Value& request);
  void ReplyFileList(const Json::Value& request);
  void ReplyVersionInfo(const Json::Value& request);
  // First claimed slot named by the request's PARAMETER/STREAMNAME, or null.

  // --- tick and alarms (tick.cpp, alarms.cpp) ---
  void Tick();
  // The first Tick that finds the device logged in: with a phase, the upload
  // and keep-alive stamps are set so that the first of each falls that far
  // into its period. Driver thread.
  void OnLoginSeen();
  // The tick's uploads, each added to the tick's burst.
  void SendGpsUpload(Json::Value& msg, const char* timeText, CUploadBurst& burst);
  // True when the alarm period is due at dwNow. Driver thread.
  bool AlarmPeriodDue() const;
  // Counts why the connection being replaced by a reconnect never served.
  void CountAbandonedAttempt();
  // The alarm cycle's messages.
  void SendSpeedAlarm(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst);
  void SendCustomAlarmPair(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst);
  void SendVideoLostAlarm(Json::Value& msg, int64_t alarmTime, CUploadBurst& burst);
  // 0 when the socket accepted the emergency alarm, 1 when not. Operator's thread.
  int UploadEmergencyAlarm();

  // --- media streams ---
  // The device's stream set, null when none was installed. Its requests come
  // from the dispatcher; the tick reaps it; Shutdown stops it.
  IStreamSet* Streams() const { return pStreams.get(); }

  // --- what the media streams see of the device (IMediaHost) ---
  std::string MediaFramePath() const override { return GetFramePath(); }
  uint32_t MediaServerAddr() const override { return nServerAddr.load(); }
  int32_t MediaServerPort() const override { return nServerPort.load(); }
  uint32_t MediaLocalAddr() const override { return nLocalAddr.load(); }
  int32_t MediaLiveViewOffSeconds() const override { return nLiveViewOff.load(); }
  bool MediaStopping() const override { return bStopping.load() != 0; }
  int32_t MediaShareGroup() const override { return sigSocket.ShareGroup(); }
  bool SendMediaReply(const Json::Value& reply, uint32_t timeoutMs) override { return SendReply(reply, timeoutMs); }

 private:
  void CloseSignal();

  mutable std::mutex textLock;
  std::mutex connectLock;  // serialises ConnectReg and the closes of sigSocket
  std::unique_ptr<IStreamSet> pStreams;  // goes before the socket (members end in reverse order)
};

// Process-wide counter of emergency alarm numbers (starts at 1).
std::atomic<int32_t>& EmergencyAlarmCounter();

