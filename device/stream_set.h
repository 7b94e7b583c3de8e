#pragma once
#include <json/value.h>

#include <cstdint>
#include <memory>

class IMediaHost;

// Stream kinds, as the requests that make them.
constexpr int32_t STREAM_LIVE = 0;
constexpr int32_t STREAM_TALK = 1;
constexpr int32_t STREAM_DOWNLOAD = 2;
constexpr int32_t STREAM_PLAYBACK = 3;
constexpr int32_t STREAM_KINDS = 4;

// What a device needs of its media streams. The device knows them only
// through this interface; media/ implements it (CStreamSet), so a device can
// be built, and tested, without any of the media code.
class IStreamSet {
 public:
  virtual ~IStreamSet() = default;
  // A media request of kind nKind (REQUESTALIVEVIDEO ...). 0 when it was
  // answered, 1 when it failed. Signalling thread.
  virtual int OnRequest(int32_t nKind, const Json::Value& request) = 0;
  // CONTROLREMOTEPLAYBACK and CONTROLSTREAM. Signalling thread.
  virtual void OnControlRemotePlayback(const Json::Value& request) = 0;
  virtual void OnControlStream(const Json::Value& request) = 0;
  // Gives back streams that never started. Driver thread, from Tick.
  virtual void Reap() = 0;
  // Stops every stream and waits until all are gone. Operator's thread, once
  // the signalling connection is closed.
  virtual void StopAll() = 0;
  // Adds the claimed streams by kind to counts[STREAM_KINDS]. Any thread.
  virtual void CountClaimed(int32_t* counts) const = 0;
};

// Makes the stream set of a new device.
using StreamSetMaker = std::unique_ptr<IStreamSet> (*)(IMediaHost& device);

// The maker every device created from now on uses; none (the default) leaves
// devices without media (requests go unanswered). Set once at start-up, before
// devices are made. Any thread.
void SetStreamSetMaker(StreamSetMaker maker);
StreamSetMaker GetStreamSetMaker();
