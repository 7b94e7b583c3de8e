#pragma once
#include <string>
#include <vector>

#include "tools/server/console.h"

class CServer;
class CConnection;

// Runs the operator's console commands: listings, requests to devices,
// stream control, raw messages, kicks. Loop thread only.
class CCommandRunner {
 public:
  using Lines = std::vector<std::string>;
  explicit CCommandRunner(CServer& server) : srv(server) {}

  // Runs one line and returns its output; *pQuit is set by "quit".
  Lines Execute(const std::string& line, bool* pQuit);

 private:
  Lines ListDevices();
  Lines ListStreams();
  Lines SendRequest(const ConsoleCommand& cmd);
  Lines SendRaw(const ConsoleCommand& cmd);
  Lines Kick(const ConsoleCommand& cmd);
  // The open signalling connection of device id, or null with the reason in why.
  CConnection* DeviceConn(const std::string& id, std::string* why);

  CServer& srv;
};
