#include "app/cli/cli_core.h"

#include "app/fleet_figures.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

using Words = std::vector<CliWord>;

struct CommandContext {
  CFleet& fleet;
  const std::string& line;
  const Words& words;
  std::string& out;
  CliStatsState& stats;
};

using CommandFn = int32_t (*)(CommandContext& c);

struct CommandRow {
  const char* szName;
  const char* szUsage;
  CommandFn pfn;
};

void Say(std::string& out, const std::string& text) {
  out += text;
  out += '\n';
}

int32_t Usage(CommandContext& c, const char* usage, const std::string& why) {
  Say(c.out, "error: " + why + "; expected: " + usage);
  return CLI_ERROR;
}

// Words [first, end) as row indices of the fleet; false names the bad word.
bool ParseIndices(CommandContext& c, size_t first, std::vector<int32_t>& sel, std::string& why) {
  int32_t count = c.fleet.RowCount();
  for (size_t i = first; i < c.words.size(); ++i) {
    int32_t idx = 0;
    if (!ParseInt32(c.words[i].text, idx) || idx < 0 || idx >= count) {
      why = "no row " + c.words[i].text + " (rows 0 to " + std::to_string(count - 1) + ")";
      if (count == 0) why = "no row " + c.words[i].text + " (the fleet is empty)";
      return false;
    }
    sel.push_back(idx);
  }
  return true;
}

// The text after word i, leading blanks removed.
std::string RestAfter(CommandContext& c, size_t i) {
  size_t pos = c.words[i].nOffset + c.words[i].text.size();
  while (pos < c.line.size() && (c.line[pos] == ' ' || c.line[pos] == '\t')) ++pos;
  return c.line.substr(pos);
}

const char kAddUsage[] = "add BASE COUNT";
int32_t CmdAdd(CommandContext& c) {
  int32_t count = 0;
  if (c.words.size() != 3) return Usage(c, kAddUsage, "two arguments needed");
  if (!ParseInt32(c.words[2].text, count)) return Usage(c, kAddUsage, "COUNT must be a whole number");
  std::string base = c.words[1].text == "\"\"" ? std::string() : c.words[1].text;
  std::string taken;
  int32_t added = c.fleet.AddDevices(base, count, &taken);
  if (added == FLEET_ADD_DUPLICATE) {
    Say(c.out, "error: the fleet already has a device with ID '" + taken + "'; nothing added");
    return CLI_ERROR;
  }
  Say(c.out, "added " + std::to_string(added));
  return CLI_OK;
}

const char kDeleteUsage[] = "delete IDX...";
int32_t CmdDelete(CommandContext& c) {
  std::vector<int32_t> sel;
  std::string why;
  if (!ParseIndices(c, 1, sel, why)) return Usage(c, kDeleteUsage, why);
  Say(c.out, "deleted " + std::to_string(c.fleet.DeleteDevices(sel)));
  return CLI_OK;
}

// "--rate R" or "--rate=R" anywhere among the words: taken out of words,
// R (> 0, at most a million) in *rate. False names the fault in why.
bool TakeRate(Words& words, double* rate, std::string& why) {
  for (size_t i = 1; i < words.size(); ++i) {
    std::string text = words[i].text;
    size_t taken = 1;
    if (text == "--rate") {
      if (i + 1 >= words.size()) return why = "--rate needs a number of devices per second", false;
      text = words[i + 1].text;
      taken = 2;
    } else if (text.rfind("--rate=", 0) == 0) {
      text = text.substr(7);
    } else {
      continue;
    }
    char* end = nullptr;
    double value = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0) || value > 1e6)
      return why = "--rate " + text + " is not a number of devices per second above 0", false;
    *rate = value;
    words.erase(words.begin() + static_cast<std::ptrdiff_t>(i), words.begin() + static_cast<std::ptrdiff_t>(i + taken));
    return true;
  }
  return true;
}

const char kOnlineUsage[] = "online [--rate R] [IDX...]";
int32_t CmdOnline(CommandContext& c) {
  std::vector<int32_t> sel;
  std::string why;
  Words words = c.words;
  double rate = 0;
  if (!TakeRate(words, &rate, why)) return Usage(c, kOnlineUsage, why);
  CommandContext rest{c.fleet, c.line, words, c.out, c.stats};
  if (!ParseIndices(rest, 1, sel, why)) return Usage(c, kOnlineUsage, why);
  if (!c.fleet.GoOnline(sel, &why, rate)) {
    Say(c.out, "error: " + why + "; nothing was connected");
    return CLI_ERROR;
  }
  std::string who = sel.empty() ? "every device" : std::to_string(sel.size()) + " devices";
  if (rate > 0) who += " at " + FigureText(rate) + " per second";
  Say(c.out, "online: " + who);
  return CLI_OK;
}

const char kOfflineUsage[] = "offline [IDX...]";
int32_t CmdOffline(CommandContext& c) {
  std::vector<int32_t> sel;
  std::string why;
  if (!ParseIndices(c, 1, sel, why)) return Usage(c, kOfflineUsage, why);
  c.fleet.TakeOffline(sel);
  Say(c.out, sel.empty() ? "offline: every device" : "offline: " + std::to_string(sel.size()) + " devices");
  return CLI_OK;
}

const char kAlarmUsage[] = "alarm IDX";
int32_t CmdAlarm(CommandContext& c) {
  std::vector<int32_t> sel;
  std::string why;
  if (!ParseIndices(c, 1, sel, why)) return Usage(c, kAlarmUsage, why);
  int32_t rc = c.fleet.SendEmergencyAlarm(sel);
  if (rc == FLEET_SEND_FAILED) Say(c.out, "发送失败");
  if (rc == FLEET_SENT) Say(c.out, "alarm sent");
  if (rc == FLEET_NO_SELECTION) Say(c.out, "nothing selected");
  return CLI_OK;
}

const char kSendUsage[] = "send IDX JSON-TEXT";
int32_t CmdSend(CommandContext& c) {
  std::vector<int32_t> sel;
  std::string why;
  if (c.words.size() < 2) return Usage(c, kSendUsage, "a row is needed");
  Words first(c.words.begin(), c.words.begin() + 2);
  CommandContext head{c.fleet, c.line, first, c.out, c.stats};
  if (!ParseIndices(head, 1, sel, why)) return Usage(c, kSendUsage, why);
  int32_t rc = c.fleet.UploadCommand(sel, RestAfter(c, 1));
  Say(c.out, rc == FLEET_SENT ? "sent" : "send failed");
  return CLI_OK;
}

const char kOptionUsage[] = "option [IDX] KEY=VALUE...";
int32_t CmdOption(CommandContext& c) {
  std::vector<int32_t> sel;
  std::string why;
  size_t first = 1;
  if (c.words.size() > 1 && c.words[1].text.find('=') == std::string::npos) {
    Words head(c.words.begin(), c.words.begin() + 2);
    CommandContext hc{c.fleet, c.line, head, c.out, c.stats};
    if (!ParseIndices(hc, 1, sel, why)) return Usage(c, kOptionUsage, why);
    first = 2;
  }
  // Like the dialog: start from the defaults or the device's values.
  DeviceProperties props = c.fleet.DialogProperties(sel);
  for (size_t i = first; i < c.words.size(); ++i)
    if (!ParseOptionPair(c.words[i].text, props, why)) return Usage(c, kOptionUsage, why);
  c.fleet.ApplyProperties(sel, props);
  Say(c.out, sel.empty() ? "options applied to every device" : "options applied to row " + std::to_string(sel[0]));
  return CLI_OK;
}

const char kSetUsage[] = "set REG [VF]";
int32_t CmdSet(CommandContext& c) {
  if (c.words.size() < 2) return Usage(c, kSetUsage, "REG is needed");
  std::string vf = c.words.size() > 2 ? RestAfter(c, 1) : c.fleet.Vf();
  if (!c.fleet.ApplySettings(c.words[1].text, vf))
    Say(c.out, "settings applied, but devset.txt could not be written");
  else
    Say(c.out, "settings applied");
  return CLI_OK;
}

const char kStatusUsage[] = "status IDX";
int32_t CmdStatus(CommandContext& c) {
  std::vector<int32_t> sel;
  std::string why;
  if (c.words.size() != 2) return Usage(c, kStatusUsage, "one row is needed");
  if (!ParseIndices(c, 1, sel, why)) return Usage(c, kStatusUsage, why);
  Say(c.out, c.fleet.StatusText(sel[0]));
  return CLI_OK;
}

int32_t CmdList(CommandContext& c) {
  std::vector<FleetRowInfo> rows = c.fleet.Snapshot();
  for (size_t i = 0; i < rows.size(); ++i)
    Say(c.out, std::to_string(i) + " " + rows[i].label + " " + (rows[i].bOnline ? "online" : "offline"));
  return CLI_OK;
}

// Every figure on one line; rates and times count from the previous "stats"
// command (from the start the first time).
int32_t CmdStats(CommandContext& c) {
  StatFigures f = FleetFigures(c.fleet.Stats());
  AddLatencyFigures(f, c.stats.times.Take());
  Say(c.out, c.stats.report.Report(f, UnixNow()));
  return CLI_OK;
}

int32_t CmdHelp(CommandContext& c) {
  c.out += CCliCore::HelpText();
  return CLI_OK;
}

int32_t CmdQuit(CommandContext&) { return CLI_QUIT; }

const char kRowsHelp[] =
    "Rows (IDX) are 0-based indices, as list shows them.\n"
    "  online and offline without IDX act on every device; with IDX on those rows.\n"
    "  online --rate R connects them R per second, evenly spread (the first at\n"
    "  once) instead of all at once; stats shows those still waiting as\n"
    "  ramp_pending.\n"
    "  delete acts on the rows given and does nothing without; alarm, send and\n"
    "  status act on one row.\n"
    "  add BASE 1 names the device BASE; add BASE N names N devices BASE-0001,\n"
    "  BASE-0002 ... (at most 9999 per command; IDs are cut to 39 bytes). An add\n"
    "  that would make an ID the fleet already has is refused and adds nothing.\n"
    "  add \"\" 1 adds one device with an empty ID.\n";

const char kOptionKeysHelp[] =
    "option [IDX] KEY=VALUE... sets a device's behaviour; keys in any case, values\n"
    "whole numbers; 0 is off and 1 on for the switches. Without IDX it starts from\n"
    "UP=0 FREQ=10 GPS=0 AD=0 AS=0 AT=0 REALCLOSE=0 and sets every device; with\n"
    "IDX it starts from that device's values and sets it alone. A new device has\n"
    "UP=0 FREQ=10 GPS=0 AD=1 AS=1 AT=0 REALCLOSE=0.\n"
    "  UP         periodic alarm upload: every FREQ seconds the speed alarm (if AS),\n"
    "             the customised alarm pair (if AD), then the video-lost alarm\n"
    "  FREQ       seconds between two alarm cycles; 0 or less: every driver pass\n"
    "             (about 2 s)\n"
    "  GPS        GPS position upload every 10 seconds\n"
    "  AD         customised alarm pair (SOS start and end) in the alarm cycle\n"
    "  AS         speed alarm (TOO FAST) in the alarm cycle\n"
    "  AT         seconds online before the device drops its connection by\n"
    "             itself (it reconnects about 15 s later); 0 never\n"
    "  REALCLOSE  seconds after which a live view ends by itself; 0 never\n";

const char kChannelMaskHelp[] =
    "Channels: the server asks a device for a live view or a playback with a MASK\n"
    "of channels, bit i for channel i: 1 is channel 0, 5 channels 0 and 2, 15\n"
    "channels 0 to 3, 65535 all 16 channels a device announces. A live view sends\n"
    "each chunk of the frame file once per channel in its mask, and the server can\n"
    "drop channels from it one by one (the stream ends with the last); a playback\n"
    "keeps the mask but sends one stream whatever it holds. zel-server asks with\n"
    "live ID MASK and playback ID [MASK].\n";

const CommandRow kCommands[] = {
    {"add", kAddUsage, CmdAdd},
    {"delete", kDeleteUsage, CmdDelete},
    {"online", kOnlineUsage, CmdOnline},
    {"offline", kOfflineUsage, CmdOffline},
    {"alarm", kAlarmUsage, CmdAlarm},
    {"send", kSendUsage, CmdSend},
    {"option", kOptionUsage, CmdOption},
    {"set", kSetUsage, CmdSet},
    {"status", kStatusUsage, CmdStatus},
    {"list", "list", CmdList},
    {"stats", "stats", CmdStats},
    {"help", "help", CmdHelp},
    {"quit", "quit", CmdQuit},
};

struct OptionKey {
  const char* szKey;
  int32_t DeviceProperties::*pField;
};
constexpr OptionKey kOptionKeys[] = {
    {"UP", &DeviceProperties::bAutoUpload}, {"FREQ", &DeviceProperties::nUploadInterval},
    {"GPS", &DeviceProperties::bGps},       {"AD", &DeviceProperties::bCustomAlarm},
    {"AS", &DeviceProperties::bSpeedAlarm}, {"AT", &DeviceProperties::nAutoOffline},
    {"REALCLOSE", &DeviceProperties::nLiveViewOff},
};

}  // namespace

bool ParseOptionPair(const std::string& word, DeviceProperties& props, std::string& why) {
  size_t eq = word.find('=');
  int32_t value = 0;
  if (eq == std::string::npos || !ParseInt32(word.substr(eq + 1), value)) {
    why = "'" + word + "' is not KEY=NUMBER";
    return false;
  }
  std::string key = word.substr(0, eq);
  for (const OptionKey& k : kOptionKeys) {
    if (strcasecmp(key.c_str(), k.szKey) == 0) {
      props.*k.pField = value;
      return true;
    }
  }
  why = "unknown key '" + key + "' (UP FREQ GPS AD AS AT REALCLOSE)";
  return false;
}

int32_t CCliCore::Execute(const std::string& line, std::string& out) {
  Words words = SplitWords(line);
  if (words.empty() || words[0].text[0] == '#') return CLI_OK;
  CommandContext c{fleet_, line, words, out, stats_};
  for (const CommandRow& row : kCommands) {
    if (words[0].text != row.szName) continue;
    bool noArgs = strchr(row.szUsage, ' ') == nullptr;
    if (noArgs && words.size() > 1) return Usage(c, row.szUsage, "no arguments allowed");
    return row.pfn(c);
  }
  Say(out, "error: unknown command '" + words[0].text + "'; try: help");
  return CLI_ERROR;
}

std::string CCliCore::HelpText() {
  std::string text = "Commands (one per line on standard input, or with -e):\n";
  for (const CommandRow& row : kCommands) text += std::string("  ") + row.szUsage + "\n";
  text += kRowsHelp;
  text += kOptionKeysHelp;
  text += kChannelMaskHelp;
  return text;
}
