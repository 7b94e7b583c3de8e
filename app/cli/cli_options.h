#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Command line of zel-cli.
struct CliOptions {
  std::vector<std::string> commands;  // -e COMMAND, in order
  int32_t nDurationSec = -1;          // --duration SECONDS; -1 runs until quit or a signal
  int32_t nStatsSec = 0;              // --stats SECONDS; 0 prints no periodic figures
  bool bHelp = false;                 // -h, --help
};

// Parses argv[1..argc-1]. False with a one-line reason in error.
bool ParseCliOptions(int argc, const char* const* argv, CliOptions& options, std::string& error);

// The usage text of the command line.
std::string CliUsage();
