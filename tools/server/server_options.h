#pragma once
#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

#include "tools/server/answer_delay.h"

// The server's command line.
struct ServerOptions {
  std::string szListenIp = "127.0.0.1";
  uint16_t nPort = 5556;          // 0: the system picks one
  int32_t nStatsSeconds = 0;      // 0: no periodic statistics
  std::string szRecordDir;        // empty: no recording
  bool bNoLoginAnswer = false;    // accept CONNECT but never answer it
  bool bReplyToUploads = false;   // answer GPS and alarm uploads
  bool bQuiet = false;            // no per-event lines
  // A connection is closed when it holds an unfinished packet, or has not sent
  // a whole one since it was opened, for this long. 0: never.
  int32_t nIdleSeconds = 60;
  // Memory all connections together may hold in unfinished packets; the
  // connection whose packet would pass it is closed.
  size_t nHeldLimitBytes = 256u * 1024u * 1024u;
  std::string szStatsFile;              // --stats-file: the --stats figures as rows too
  std::string szStatsFormat = "csv";    // --stats-format csv|jsonl
  std::string szMetrics;                // --metrics HOST:PORT: Prometheus endpoint
  // --reuse-port: several processes listen on one port (SO_REUSEPORT) and
  // the kernel spreads the connections; each process also listens on a
  // port of its own and sends devices that one for their media connections,
  // so that a stream reaches the process that asked for it.
  bool bReusePort = false;
  // --login-delay, --stream-delay: how long each CONNECT or CREATESTREAM
  // answer is held (on a loop timer) before it is sent.
  AnswerDelay loginDelay;
  AnswerDelay streamDelay;
};

// "IP:PORT" with a dotted IPv4 address and a port from 0 to 65535.
bool ParseListenAddress(const std::string& text, std::string* ip, uint16_t* port);

// zel-server's options, help and version on app, writing into *opt when app
// parses. app must be named "zel-server".
void DefineServerOptions(CLI::App& app, ServerOptions* opt);
