#pragma once
#include <cstdint>
#include <string>

// Console verbs.
constexpr int32_t CMD_NONE = 0;  // blank line
constexpr int32_t CMD_DEVICES = 1;
constexpr int32_t CMD_LIVE = 2;
constexpr int32_t CMD_DOWNLOAD = 3;
constexpr int32_t CMD_PLAYBACK = 4;
constexpr int32_t CMD_TALK = 5;
constexpr int32_t CMD_STOP = 6;
constexpr int32_t CMD_PAUSE = 7;
constexpr int32_t CMD_RESUME = 8;
constexpr int32_t CMD_DROP = 9;
constexpr int32_t CMD_CALENDAR = 10;
constexpr int32_t CMD_FILES = 11;
constexpr int32_t CMD_VERSION = 12;
constexpr int32_t CMD_SEND = 13;
constexpr int32_t CMD_KICK = 14;
constexpr int32_t CMD_STREAMS = 15;
constexpr int32_t CMD_STATS = 16;
constexpr int32_t CMD_HELP = 17;
constexpr int32_t CMD_QUIT = 18;
constexpr int32_t CMD_INVALID = 19;  // szError says why

// One parsed console line. szTarget is the device number (ID) or the stream
// name (STREAM), whichever the verb takes.
struct ConsoleCommand {
  int32_t nVerb = CMD_NONE;
  std::string szTarget;
  uint32_t nMask = 0;     // live MASK, playback MASK (default 1)
  int32_t nChannel = 0;   // drop CHANNEL
  std::string szJson;     // send: the rest of the line
  std::string szError;
};

// Parses one line: a verb and its arguments separated by blanks. Numbers are
// decimal or 0x-prefixed hexadecimal. Pure function.
ConsoleCommand ParseConsoleLine(const std::string& line);

// The usage text, one command a line.
const char* ConsoleHelp();
