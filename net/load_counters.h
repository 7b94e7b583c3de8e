#pragma once
#include <atomic>
#include <cstdint>

// What a load test counts, process-wide: the failures by kind and the
// messages the devices sent by kind. Every figure is a 32-bit atomic that
// only goes up (relaxed adds from any thread); rates come from differences.

enum LoadFailure : int32_t {
  FAIL_CONNECT_REFUSED = 0,  // the server refused a connection attempt
  FAIL_CONNECT_TIMEOUT,      // an attempt never completed before the device gave up on it
  FAIL_LOGIN_UNANSWERED,     // connected, but no login answer before the device gave up
  FAIL_LOGIN_REFUSED,        // the login answer carried a non-zero ERRORCODE
  FAIL_CONNECTION_LOST,      // a logged-in signalling connection closed or broke
  FAIL_SEND,                 // a message or media packet could not be sent
  FAIL_MEDIA_SETUP,          // a media connection could not be opened or never started its stream
  FAIL_STREAM_DROPPED,       // a running stream's connection was lost
  FAIL_KINDS
};

enum LoadMessage : int32_t {
  MSG_LOGIN = 0,   // CONNECT
  MSG_KEEPALIVE,
  MSG_GPS,
  MSG_ALARM,       // each alarm message (a cycle has up to four)
  MSG_REPLY,       // answers to the server's requests
  MSG_STREAM,      // media streams started (the server's CREATESTREAM answer came)
  MSG_KINDS
};

// Names for stats and metrics: "connect_refused" ..., "logins", "gps" ...
const char* LoadFailureName(int32_t kind);
const char* LoadMessageName(int32_t kind);

void CountFailure(LoadFailure kind);
void CountMessage(LoadMessage kind);
uint32_t FailureCount(int32_t kind);
uint32_t MessageCount(int32_t kind);
// Sum of every failure kind.
uint32_t FailureTotal();
