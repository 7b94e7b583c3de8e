#include "tools/server/console.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {
// What follows a verb.
enum ArgShape { ARGS_NONE, ARGS_ID, ARGS_ID_MASK, ARGS_ID_OPT_MASK, ARGS_STREAM, ARGS_STREAM_CHANNEL, ARGS_ID_JSON };

struct VerbRow {
  const char* szName;
  int32_t nVerb;
  ArgShape shape;
};

const VerbRow VERBS[] = {
    {"devices", CMD_DEVICES, ARGS_NONE},      {"live", CMD_LIVE, ARGS_ID_MASK},
    {"download", CMD_DOWNLOAD, ARGS_ID},      {"playback", CMD_PLAYBACK, ARGS_ID_OPT_MASK},
    {"talk", CMD_TALK, ARGS_ID},              {"stop", CMD_STOP, ARGS_STREAM},
    {"pause", CMD_PAUSE, ARGS_STREAM},        {"resume", CMD_RESUME, ARGS_STREAM},
    {"drop", CMD_DROP, ARGS_STREAM_CHANNEL},  {"calendar", CMD_CALENDAR, ARGS_ID},
    {"files", CMD_FILES, ARGS_ID},            {"version", CMD_VERSION, ARGS_ID},
    {"send", CMD_SEND, ARGS_ID_JSON},         {"kick", CMD_KICK, ARGS_ID},
    {"streams", CMD_STREAMS, ARGS_NONE},      {"stats", CMD_STATS, ARGS_NONE},
    {"help", CMD_HELP, ARGS_NONE},            {"quit", CMD_QUIT, ARGS_NONE},
};

// Decimal or 0x-hexadecimal, the whole word, within [0, maxValue].
bool ParseNumber(const std::string& word, uint64_t maxValue, uint64_t* out) {
  bool bHex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
  if (word.empty() || word[0] == '-' || word[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = strtoull(word.c_str(), &end, bHex ? 16 : 10);
  if (errno != 0 || *end != '\0' || v > maxValue) return false;
  *out = v;
  return true;
}

ConsoleCommand Invalid(const std::string& why) {
  ConsoleCommand cmd;
  cmd.nVerb = CMD_INVALID;
  cmd.szError = why;
  return cmd;
}

// Everything after the first two words, leading blanks removed.
std::string RestAfterTwoWords(const std::string& line) {
  size_t pos = line.find_first_not_of(" \t");
  for (int word = 0; word < 2 && pos != std::string::npos; word++) {
    pos = line.find_first_of(" \t", pos);
    if (pos != std::string::npos) pos = line.find_first_not_of(" \t", pos);
  }
  return pos == std::string::npos ? std::string() : line.substr(pos);
}

ConsoleCommand ApplyArgs(const VerbRow& row, const std::vector<std::string>& w, const std::string& line) {
  ConsoleCommand cmd;
  cmd.nVerb = row.nVerb;
  size_t want = row.shape == ARGS_NONE ? 1 : (row.shape == ARGS_ID || row.shape == ARGS_STREAM) ? 2 : 3;
  if (row.shape == ARGS_ID_OPT_MASK && w.size() == 2) want = 2;
  if (row.shape == ARGS_ID_JSON ? w.size() < want : w.size() != want) {
    return Invalid(std::string("wrong arguments for ") + row.szName + " (try help)");
  }
  if (w.size() > 1) cmd.szTarget = w[1];
  uint64_t v = 0;
  switch (row.shape) {
    case ARGS_ID_MASK:
    case ARGS_ID_OPT_MASK:
      cmd.nMask = 1;
      if (w.size() == 3 && !ParseNumber(w[2], 0xFFFFFFFFull, &v)) return Invalid("bad channel mask: " + w[2]);
      if (w.size() == 3) cmd.nMask = static_cast<uint32_t>(v);
      break;
    case ARGS_STREAM_CHANNEL:
      if (!ParseNumber(w[2], 0x7FFFFFFFull, &v)) return Invalid("bad channel: " + w[2]);
      cmd.nChannel = static_cast<int32_t>(v);
      break;
    case ARGS_ID_JSON: cmd.szJson = RestAfterTwoWords(line); break;
    default: break;
  }
  return cmd;
}
}  // namespace

ConsoleCommand ParseConsoleLine(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty()) return ConsoleCommand{};
  for (const VerbRow& row : VERBS) {
    if (words[0] == row.szName) return ApplyArgs(row, words, line);
  }
  return Invalid("unknown command: " + words[0] + " (try help)");
}

const char* ConsoleHelp() {
  return "devices | streams | stats | help | quit\n"
         "live ID MASK | download ID | playback ID [MASK] | talk ID\n"
         "stop STREAM | pause STREAM | resume STREAM | drop STREAM CHANNEL\n"
         "calendar ID | files ID | version ID | send ID JSON | kick ID";
}
