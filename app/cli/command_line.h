#pragma once
#include <CLI/CLI.hpp>

#include <string>

// What every executable's command line shares: --help, --version and the exit
// status of a refused command line.

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
