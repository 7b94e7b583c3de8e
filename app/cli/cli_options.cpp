#include "app/cli/cli_options.h"

#include <cstring>

#include "app/cli/cli_core.h"

namespace {

// The value after option argv[i]; false when it is missing.
bool TakeValue(int argc, const char* const* argv, int& i, std::string& value, std::string& error) {
  if (i + 1 >= argc) {
    error = std::string(argv[i]) + " needs a value";
    return false;
  }
  value = argv[++i];
  return true;
}

bool TakeSeconds(int argc, const char* const* argv, int& i, int32_t nMin, int32_t& out, std::string& error) {
  std::string name = argv[i];
  std::string value;
  if (!TakeValue(argc, argv, i, value, error)) return false;
  if (!ParseInt32(value, out) || out < nMin) {
    error = name + " needs a whole number of seconds of at least " + std::to_string(nMin);
    return false;
  }
  return true;
}

}  // namespace

bool ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string value;
    if (strcmp(arg, "-e") == 0) {
      if (!TakeValue(argc, argv, i, value, error)) return false;
      options.commands.push_back(value);
    } else if (strcmp(arg, "--duration") == 0) {
      if (!TakeSeconds(argc, argv, i, 0, options.nDurationSec, error)) return false;
    } else if (strcmp(arg, "--stats") == 0) {
      if (!TakeSeconds(argc, argv, i, 1, options.nStatsSec, error)) return false;
    } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      options.bHelp = true;
    } else {
      error = std::string("unknown argument '") + arg + "'";
      return false;
    }
  }
  return true;
}

std::string CliUsage() {
  return "usage: zel-cli [-e COMMAND]... [--duration SECONDS] [--stats SECONDS]\n"
         "  Loads devset.txt, gps.txt and list.txt beside the executable, runs each -e\n"
         "  command, then reads commands from standard input, one per line, until quit,\n"
         "  the end of --duration, SIGINT or SIGTERM; then writes list.txt.\n"
         "  --stats SECONDS prints one line of fleet figures every SECONDS.\n"
         "Commands:\n" +
         CCliCore::HelpText();
}
