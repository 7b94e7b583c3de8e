#pragma once
#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "device/device_counters.h"
#include "device/device_properties.h"
#include "device/device_settings.h"
#include "device/media_host.h"
#include "device/signal_session.h"
#include "device/stream_set.h"
#include "device/upload_schedule.h"

// One simulated vehicle recorder, made of parts that each keep their own
// state and name the threads that may touch it:
// - its settings (CDeviceSettings): any thread, read as snapshots;
// - its signalling session (CSignalSession): the connection, the login and
//   the dispatcher, owned by the connection's loop thread;
// - its upload schedule (CUploadSchedule): the driver thread, from Tick;
// - its counters (DeviceCounters): atomics, read by the fleet's statistics;
// - its media streams (an IStreamSet, made by the maker installed at
//   start-up; none without one), which see the device as an IMediaHost.
class CDevQ5 : public IMediaHost {
 public:
  CDevQ5();
  ~CDevQ5() override;
  CDevQ5(const CDevQ5&) = delete;
  CDevQ5& operator=(const CDevQ5&) = delete;

  // --- identity (set before the device is shared) ---
  void SetId(const char* id) { session.SetId(id); }
  const char* Id() const { return session.Id(); }
  int32_t DevType() const { return nDevType; }
  void SetDevType(int32_t type) { nDevType = type; }

  // --- settings (any thread) ---
  std::shared_ptr<const DeviceSettings> Settings() const { return settings.Snapshot(); }
  DeviceProperties GetProperties() const { return settings.Properties(); }
  void SetProperties(const DeviceProperties& p) { settings.SetProperties(p); }
  // The register server: its host text, port and resolved address (0 when
  // it has none: connects then fail and are retried).
  void SetServer(const char* host, int32_t port, uint32_t ip) { settings.SetServer(host, port, ip); }
  // The same, resolving host here (a name lookup may block).
  void SetServer(const char* host, int32_t port);
  std::string GetServerIp() const { return Settings()->szServerIp; }
  void SetFramePath(const char* path) { settings.SetFramePath(path); }
  std::string GetFramePath() const { return Settings()->szFramePath; }

  // --- the parts ---
  CSignalSession& Session() { return session; }
  const CSignalSession& Session() const { return session; }
  // Driver thread (or with the driver held off).
  CUploadSchedule& Schedule() { return schedule; }
  DeviceCounters& Counters() { return counters; }
  const DeviceCounters& Counters() const { return counters; }

  // --- connection state (any thread) ---
  bool IsOnline() const { return session.IsOnline(); }
  bool WantsOnline() const { return session.WantsOnline(); }

  // --- operator's commands ---
  // (Re)opens the signalling connection; always 0. Safe from the operator's,
  // the ramp's and the driver thread at once.
  int ConnectReg() { return session.ConnectReg(); }
  // The Offline command. Operator's thread.
  void GoOffline() { session.GoOffline(); }
  // The same without waiting; done runs once the connection is let go (see
  // CSignalSession::GoOffline).
  void GoOffline(std::function<void()> done) { session.GoOffline(std::move(done)); }
  // Ends the device before it is destroyed: connection closed, every stream
  // stopped and its sender waited for. Operator's thread.
  void Shutdown();
  // First step of closing the program: senders told to stop, the signalling
  // socket detached from its share thread without an event.
  void PrepareExit();
  // Sends value on the signalling connection as one packet; logs the text
  // when bLog is set. True when the socket accepted it. Any thread.
  bool SendSignalPacket(const Json::Value& value, uint32_t timeoutMs, int bLog) {
    return session.SendSignalPacket(value, timeoutMs, bLog);
  }
  // 0 when the socket accepted the emergency alarm, 1 when not. Operator's thread.
  int UploadEmergencyAlarm();

  // --- the driver's pass (tick.cpp) ---
  void Tick();

  // --- media streams ---
  // The device's stream set, null when none was installed. Its requests come
  // from the dispatcher; the tick reaps it; Shutdown stops it.
  IStreamSet* Streams() const { return pStreams.get(); }

  // --- what the media streams see of the device (IMediaHost) ---
  std::string MediaFramePath() const override { return GetFramePath(); }
  uint32_t MediaServerAddr() const override { return Settings()->nServerAddr; }
  int32_t MediaServerPort() const override { return Settings()->nServerPort; }
  uint32_t MediaLocalAddr() const override { return session.LocalAddr(); }
  int32_t MediaLiveViewOffSeconds() const override { return Settings()->props.nLiveViewOff; }
  bool MediaStopping() const override { return bStopping.load() != 0; }
  int32_t MediaShareGroup() const override { return session.Socket().ShareGroup(); }
  bool SendMediaReply(const Json::Value& reply, uint32_t timeoutMs) override {
    return session.SendReply(reply, timeoutMs);
  }

 private:
  CDeviceSettings settings;
  DeviceCounters counters;
  CUploadSchedule schedule;
  CSignalSession session{settings, counters};
  int32_t nDevType = 0;                   // written before the device is shared
  std::atomic<int32_t> bStopping{0};      // the device is going: senders end
  std::unique_ptr<IStreamSet> pStreams;   // goes before the session's socket (members end in reverse order)
};

// Process-wide counter of emergency alarm numbers (starts at 1).
std::atomic<int32_t>& EmergencyAlarmCounter();
