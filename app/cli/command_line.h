#pragma once
#include <CLI/CLI.hpp>

#include <string>

#include "platform/debug_log.h"

// What every executable's command line shares: --help and --version, the exit
// statuses, and the options zel and zel-cli both take for their files and
// their debug channel.

constexpr int EXIT_USAGE = 2;  // the command line was refused

// An application of CLI11 for the executable name: "-h, --help" and
// "--version" (printing "NAME VERSION").
void SetUpCommandLine(CLI::App& app);

// Parses argv. Returns -1 when the program goes on; otherwise the status to
// exit with: 0 after --help or --version (printed on standard output, nothing
// else done), EXIT_USAGE after a refused command line (one message and a hint
// on standard error).
int ParseCommandLine(CLI::App& app, int argc, const char* const* argv);

// Writes "NAME: message" and the hint to standard error; returns EXIT_USAGE.
// For what can only be checked after parsing.
int UsageError(const CLI::App& app, const std::string& message);

// --dir, --log and -q of zel and zel-cli.
struct FleetRunOptions {
  std::string szDir;  // --dir DIR: devset.txt, gps.txt and list.txt; empty: beside the executable
  std::string szLog;  // --log FILE: debug lines appended there; empty: standard error
  bool bQuiet = false;  // -q: only error lines on the debug channel
};
void AddFleetRunOptions(CLI::App& app, FleetRunOptions& options);

// The directory of the three files: --dir, or the executable's directory.
std::string FleetDir(const FleetRunOptions& options);

// Sends the debug channel where --log and -q ask while it lives, and back to
// standard error, unfiltered, when it goes. Main thread.
class CDebugChannelSetup {
 public:
  CDebugChannelSetup() = default;
  ~CDebugChannelSetup();
  CDebugChannelSetup(const CDebugChannelSetup&) = delete;
  CDebugChannelSetup& operator=(const CDebugChannelSetup&) = delete;

  // False with a message in error when the --log file cannot be opened.
  bool Apply(const FleetRunOptions& options, std::string* error);

 private:
  CDebugFileSink file_;
  bool bSinkInstalled_ = false;
};
