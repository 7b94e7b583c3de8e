#pragma once
#include <cstdint>

// How the server answers and takes connections. The executable keeps these
// defaults (apart from --no-login-answer); tests turn them to play a server
// that misbehaves. Read on the loop thread, where tests change them too.
struct ServerSwitches {
  bool bAnswerConnect = true;       // answer CONNECT at all
  int32_t nConnectError = 0;        // ERRORCODE of the CONNECT answer; not 0: the login is refused
  bool bAnswerCreateStream = true;  // answer CREATESTREAM at all (a refused stream is still closed)
  bool bAcceptAnyStream = false;    // a stream no request named is opened instead of refused
  bool bSilent = false;             // no automatic answer of any kind
  bool bRefuseNew = false;          // every new connection is closed at once
  bool bPauseNew = false;           // new connections are not read until resumed
  int32_t nRecvBuf = 0;             // SO_RCVBUF of the listener and new connections; 0: the system's
};
