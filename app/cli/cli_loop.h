#pragma once
#include "app/cli/cli_core.h"
#include "app/cli/cli_options.h"
#include "app/cli/scenario_runner.h"

// Reads command lines from standard input and runs them until "quit", the
// end of options.nDurationSec, the end of the scenario's last phase (with a
// runner), or until stopFd (the read end of the signal pipe) becomes
// readable. The end of input alone does not stop it. Prints the periodic
// figures of options.nStatsSec. Runs on the main thread.
void RunConsole(CCliCore& core, CCliReport& report, const CliOptions& options, int stopFd,
                CScenarioRunner* runner = nullptr);

// Writes text to standard output at once.
void PrintOut(const std::string& text);
