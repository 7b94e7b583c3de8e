#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/device_properties.h"

constexpr int32_t DEV_SERVER_IP_SIZE = 80;   // at most 79 characters
constexpr int32_t DEV_FRAME_PATH_SIZE = 400; // at most 399 characters

// What the operator sets on a device: its seven behaviour values, the
// register server it connects to and the frame file its streams play. A value
// is never changed once it is published: a change makes a new one.
struct DeviceSettings {
  DeviceProperties props;
  std::string szServerIp;    // the server's host text, at most 79 bytes
  int32_t nServerPort = 0;
  uint32_t nServerAddr = 0;  // szServerIp resolved (host order); 0: none, connects fail and are retried
  std::string szFramePath;   // at most 399 bytes
};

// A device's current settings, read as one consistent snapshot by every
// thread (the driver once per Tick, the media streams, the statistics) while
// the operator replaces them.
//
// Threads: every method is safe from any thread. Writers are serialised
// among themselves, each copying the current value, changing the copy and
// publishing it whole; a reader waits at most for the exchange of one
// pointer. (The pointer is guarded by a mutex rather than held in a
// std::atomic<std::shared_ptr>: libstdc++ 12 ends that one's load with a
// relaxed release of its internal lock, so a reader's read of the pointer is
// not ordered before the next store, and ThreadSanitizer reports the race.)
class CDeviceSettings {
 public:
  CDeviceSettings();

  // The settings now; they stay as they are for as long as they are held.
  // Copies a pointer: no allocation.
  std::shared_ptr<const DeviceSettings> Snapshot() const;
  // The seven behaviour values alone, copied without holding on to the
  // settings: what a Tick and the statistics read of every device.
  DeviceProperties Properties() const;

  void SetProperties(const DeviceProperties& p);
  // The register server: its host text (cut to 79 bytes), port and resolved
  // address (0 when it has none).
  void SetServer(const char* host, int32_t port, uint32_t ip);
  // Looks the server's host name up again (the address behind it may have
  // moved after a failed connect); a numeric host or a failed lookup keeps
  // the address. A name lookup may block.
  void RefreshServerAddress();
  // Takes ip as the server's address when host is still the server's host
  // text; false when the server was changed meanwhile (the address it was
  // given stays).
  bool SetResolvedAddress(const std::string& host, uint32_t ip);
  // The frame file, cut to 399 bytes.
  void SetFramePath(const char* path);

 private:
  // Publishes a copy of the current settings changed by edit.
  template <class Edit>
  void Update(Edit edit);

  std::mutex writeLock;          // serialises the writers
  mutable std::mutex readLock;   // guards current against its exchange
  std::shared_ptr<const DeviceSettings> current;  // written under both locks
};
