#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/fleet.h"
#include "net/latency_figures.h"
#include "net/stats_report.h"

// What the "stats" command keeps between two calls: the previous figures
// (for the rates) and times (for the interval's percentiles).
struct CliStatsState {
  CStatsReport report;
  CLatencyInterval times;
};

// Results of CCliCore::Execute.
constexpr int32_t CLI_OK = 0;     // done (output may report a failed send)
constexpr int32_t CLI_ERROR = 1;  // refused (bad arguments, an ID taken): one error line, nothing changed
constexpr int32_t CLI_QUIT = 2;   // "quit": the caller closes the fleet

// The operator's commands of the headless console, one text line each. Row
// indices are 0-based and form the selection; none given is the empty
// selection, which online, offline and option take as every device and the
// other commands as no device. Every argument is checked before anything is
// done, so a command with a bad argument changes nothing. Runs on one thread
// (the console's).
class CCliCore {
 public:
  explicit CCliCore(CFleet& fleet) : fleet_(fleet) { stats_.report.StartAt(UnixNow()); }

  // Runs one command line and appends its output lines (each ending in '\n')
  // to out. Empty lines and lines starting with '#' do nothing.
  int32_t Execute(const std::string& line, std::string& out);

  // The command summary that "help" prints.
  static std::string HelpText();

 private:
  CFleet& fleet_;
  CliStatsState stats_;
};

// --- argument helpers (shared with the option parser) ---

// KEY=VALUE of the option command (UP FREQ GPS AD AS AT REALCLOSE, any case)
// into props; false names the bad word in why.
bool ParseOptionPair(const std::string& word, DeviceProperties& props, std::string& why);

// A whole decimal number with an optional sign that fits 32 bits.
bool ParseInt32(const std::string& text, int32_t& value);

// Words of line separated by blanks and tabs, with the offset where each
// begins (so that a command can take "the rest of the line").
struct CliWord {
  std::string text;
  size_t nOffset = 0;
};
std::vector<CliWord> SplitWords(const std::string& line);
