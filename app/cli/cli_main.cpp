// zel-cli: the fleet without a window. Reads the three files beside the
// executable (or in --dir), runs the operator's commands from the command line
// and from standard input, and writes list.txt when it ends.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "app/cli/cli_core.h"
#include "app/cli/cli_loop.h"
#include "app/cli/cli_options.h"
#include "app/cli/scenario.h"
#include "app/cli/scenario_runner.h"
#include "app/fleet.h"
#include "platform/process_init.h"

namespace {

int gSignalPipe[2] = {-1, -1};

// Only wakes the main loop; all work happens there.
void OnStopSignal(int) {
  int saved = errno;
  if (write(gSignalPipe[1], "s", 1) < 0) {
  }
  errno = saved;
}

bool InstallSignalHandlers() {
  if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0;
}

// The -e commands in order: CLI_QUIT when one of them was quit, CLI_ERROR
// when one failed (the rest are not run), CLI_OK otherwise.
int32_t RunCommandLine(CCliCore& core, const CliOptions& options) {
  for (const std::string& command : options.commands) {
    std::string out;
    int32_t rc = core.Execute(command, out);
    PrintOut(out);
    if (rc == CLI_QUIT || rc == CLI_ERROR) return rc;
  }
  return CLI_OK;
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions options;
  CLI::App app("", "zel-cli");
  DefineCliOptions(app, options);
  int status = ParseCommandLine(app, argc, argv);
  if (status >= 0) return status;
  CDebugChannelSetup debugChannel;
  std::string error;
  if (!debugChannel.Apply(options.run, &error)) return UsageError(app, error);
  if (!CheckShardOptions(options.shard, &error)) return UsageError(app, error);
  Scenario scenario;
  if (!options.szScenario.empty()) {
    if (!LoadScenario(options.szScenario, &scenario, &error)) return UsageError(app, error);
    for (const ScenarioThreshold& t : scenario.thresholds) options.report.thresholdTexts.push_back(t.szText);
  }
  if (!ParseThresholds(&options.report, &error)) return UsageError(app, error);
  ProcessStartup();
  if (!InstallSignalHandlers()) {
    fprintf(stderr, "zel-cli: cannot install the signal handlers\n");
    return 1;
  }
  // The console shows command results, not the window's title and status texts.
  CFleet fleet(FleetDir(options.run));
  fleet.LoadAll();
  if (options.shard.nIndex >= 0) fleet.SetShard(options.shard.nIndex);
  fleet.SetSourceAddresses(options.shard.sourceAddrs);
  for (const FileNotice& notice : fleet.LoadNotices())
    PrintOut((notice.bSetAside ? "warning: " : "note: ") + notice.szText + "\n");
  CCliReport report(fleet);
  report.SetRunInfo(std::vector<std::string>(argv, argv + argc),
                    options.shard.nIndex >= 0 ? std::to_string(options.shard.nIndex) + "/" +
                                                    std::to_string(options.shard.nCount)
                                              : std::string(),
                    options.szScenario);
  if (!report.Start(options.report, &error)) return UsageError(app, error);
  if (report.MetricsPort() != 0) {
    std::string host;
    uint16_t port = 0;
    CMetricsServer::ParseAddress(options.report.szMetrics, &host, &port, &error);
    PrintOut("metrics on http://" + host + ":" + std::to_string(report.MetricsPort()) + "/metrics\n");
  }
  CCliCore core(fleet);
  int32_t rc = RunCommandLine(core, options);
  std::unique_ptr<CScenarioRunner> runner;
  if (rc == CLI_OK && !options.szScenario.empty()) {
    runner = std::make_unique<CScenarioRunner>(fleet, report, scenario);
    if (!runner->Prepare(&error)) {
      fprintf(stderr, "zel-cli: %s: %s\n", options.szScenario.c_str(), error.c_str());
      rc = CLI_ERROR;
    }
  }
  if (rc == CLI_OK) RunConsole(core, report, options, gSignalPipe[0], runner.get());
  int result = CLI_EXIT_PASS;
  if (rc != CLI_ERROR) PrintOut(report.Summary(&result));
  if (!fleet.SaveAndRelease()) {
    fprintf(stderr, "zel-cli: %s/list.txt could not be written\n", fleet.Dir().c_str());
    return 1;
  }
  if (rc == CLI_ERROR) {
    fprintf(stderr, "zel-cli: %s; the run ends here\n", runner ? "the scenario could not be set up" : "a -e command failed");
    return EXIT_USAGE;
  }
  return result;
}
