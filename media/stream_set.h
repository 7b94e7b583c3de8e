#pragma once
#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "device/stream_set.h"
#include "media/stream_slot.h"

class IMediaHost;

// A device's 50 media stream slots and what the server's media requests and
// controls do with them: claims, media connections, the senders, the reaping
// of streams that never started, and the stop at the device's end.
//
// Threads: requests and controls arrive on the device's signalling loop (one
// at a time, so claims never race each other); each media connection's
// callbacks and its sender run on the loop that serves it, which is the
// signalling loop unless that connection had gone when the stream opened;
// Reap on the driver thread; StopAll on the operator's thread.
class CStreamSet : public IStreamSet {
 public:
  explicit CStreamSet(IMediaHost& device);
  ~CStreamSet() override = default;
  CStreamSet(const CStreamSet&) = delete;
  CStreamSet& operator=(const CStreamSet&) = delete;

  int OnRequest(int32_t nKind, const Json::Value& request) override;
  void OnControlRemotePlayback(const Json::Value& request) override;
  void OnControlStream(const Json::Value& request) override;
  // A slot whose stream never started is given back once it is abandoned
  // (connection lost or not opened) or has waited too long (a failed
  // connection attempt raises no event at all). Never on a share thread.
  void Reap() override;
  // Every stream is told to stop, slots that never started are taken back,
  // the connections of running senders are cut, and it waits until every
  // slot is free: returning while a sender runs would let the device be
  // destroyed under it.
  void StopAll() override;
  void CountClaimed(int32_t* counts) const override;

  // SocketCallback of every media connection; pUser is the StreamSlot.
  static int MediaCallback(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port, int32_t event);

  IMediaHost& device;
  StreamSlot slots[MAX_STREAMS];
  // Slots claimed and not yet given back: counted up before a slot's bInUse
  // is set and down before it is cleared (after the clear the device may be
  // gone), so the driver skips the scan of the 50 slots of an idle device.
  std::atomic<int32_t> nSlotsInUse{0};

 private:
  int OnRequestTalk(const Json::Value& request);
  int OnRequestAliveVideo(const Json::Value& request);
  int OnRequestDownloadVideo(const Json::Value& request);
  int OnRequestRemotePlayback(const Json::Value& request);
  // First claimed slot named by the request's PARAMETER/STREAMNAME, or null.
  StreamSlot* FindStream(const Json::Value& request);
};

// Every device made from now on gets a CStreamSet. Called once at start-up by
// whatever runs devices with media (the fleet, tests, tools).
void InstallMediaStreams();

// The media streams of a device made after InstallMediaStreams (tests, tools).
template <class Device>
CStreamSet& MediaStreamsOf(Device& device) {
  return *static_cast<CStreamSet*>(device.Streams());
}
