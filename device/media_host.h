#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

constexpr int32_t DEV_MEDIA_MAX_BUF = 600000;  // receive limit of a media connection

// What a device's media streams need of their device, and nothing more: the
// streams (media/) know their device only through this interface.
//
// Threads: every method is safe from any thread; the streams call them from
// the loop thread that serves the device's signalling connection.
class IMediaHost {
 public:
  virtual ~IMediaHost() = default;
  // The frame file the streams play.
  virtual std::string MediaFramePath() const = 0;
  // The register server's resolved address and port (host order; 0: none),
  // the default media address when a request names none.
  virtual uint32_t MediaServerAddr() const = 0;
  virtual int32_t MediaServerPort() const = 0;
  // Source address of every connection of the device (host order; 0: any).
  virtual uint32_t MediaLocalAddr() const = 0;
  // The live-view turn-off interval in seconds (0: never).
  virtual int32_t MediaLiveViewOffSeconds() const = 0;
  // True once the device is going: every sender ends.
  virtual bool MediaStopping() const = 0;
  // The share group of the signalling connection (-1: none), so that the
  // media connections are served by the same loop.
  virtual int32_t MediaShareGroup() const = 0;
  // Sends a reply to one of the server's requests on the signalling
  // connection (logged and counted). True when the socket accepted it.
  virtual bool SendMediaReply(const Json::Value& reply, uint32_t timeoutMs) = 0;
};
