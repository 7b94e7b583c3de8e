#pragma once
#include <json/value.h>

#include <cstdint>

// Which address rules a media request follows for its IPANDPORT text.
constexpr int32_t MEDIA_ADDR_TALK = 0;       // REQUESTTALK
constexpr int32_t MEDIA_ADDR_LIVE = 1;       // REQUESTALIVEVIDEO
constexpr int32_t MEDIA_ADDR_RECORDING = 2;  // REQUESTDOWNLOADVIDEO, REQUESTREMOTEPLAYBACK

constexpr int32_t MEDIA_ADDR_MAX_TEXT = 99;  // longer address texts are cut to this length

// Peer of a media connection, both in host order.
struct MediaAddress {
  uint32_t nIp = 0;
  uint16_t nPort = 0;
};

// Works out the media connection's peer from the request's IPANDPORT value
// ("a.b.c.d:port"): the host numbers are read as by AddressTextToIp, the port
// with atoi and kept as 16 bits. A value that is not a string counts as absent.
//   talk:      absent or no colon -> the register server's host and port
//              (whatever the text); empty host -> 0.0.0.0 (which the socket
//              refuses); port 0 kept.
//   live:      absent or no colon -> refused (false); empty host -> the
//              register server's host; port 0 kept.
//   recording: absent or no colon -> host from the whole text (the register
//              server's when empty) and the register server's port; empty
//              host -> the register server's host; port 0 -> its port.
// nServerIp is the register server's resolved address (host order).
// Returns false only when the live rules refuse the value. Pure, any thread.
bool ResolveMediaAddress(int32_t nRules, const Json::Value& ipAndPort, uint32_t nServerIp, int32_t nServerPort,
                         MediaAddress* out);
