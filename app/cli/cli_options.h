#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/cli/cli_report.h"
#include "app/cli/command_line.h"
#include "app/cli/shard_options.h"

// Command line of zel-cli.
struct CliOptions {
  std::vector<std::string> commands;  // -e COMMAND, in order
  int32_t nDurationSec = -1;          // --duration SECONDS; -1 runs until quit or a signal
  int32_t nStatsSec = 0;              // --stats SECONDS; 0 prints no periodic figures
  FleetRunOptions run;                // --dir, --log, -q
  CliReportOptions report;            // --stats-file, --stats-format, --metrics, --allow-failures, --expect-online
  ShardOptions shard;                 // --shard, --ifaddr
  std::string szScenario;             // --scenario FILE
};

// zel-cli's options, help and version on app, writing into options when
// app parses. app must be named "zel-cli".
void DefineCliOptions(CLI::App& app, CliOptions& options);
