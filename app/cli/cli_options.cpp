#include "app/cli/cli_options.h"

#include "app/cli/cli_core.h"

namespace {

const char kAbout[] =
    "zel-cli: the fleet of simulated devices without a window.\n"
    "Loads devset.txt, gps.txt and list.txt (beside the executable, or in --dir),\n"
    "runs each -e command in order, then reads commands from standard input, one\n"
    "per line, until quit, the end of --duration, SIGINT or SIGTERM; then writes\n"
    "list.txt. Command results go to standard output, the debug lines (every\n"
    "message sent and received, connections, streams, failures) to standard error\n"
    "or the --log file.\n";

const char kThresholds[] =
    "Thresholds (--threshold NAME OP VALUE, OP one of < <= > >= ==):\n"
    "  connect_, login_, stream_, recovery_ + p50, p90, p95, p99 or max: times, VALUE in ms\n"
    "      (the default) or s; connect: TCP connect to connection up; login: CONNECT to\n"
    "      its answer; stream: CREATESTREAM to its answer; recovery: a login lost without\n"
    "      being asked to, to the next login. A time with no event fails.\n"
    "  failures, or one kind (connect_refused, connect_timeout, login_unanswered,\n"
    "      login_refused, connection_lost, send_failed, media_setup_failed,\n"
    "      stream_dropped): counts, no unit\n"
    "  online: % of the devices asked to go online that are online at the end\n"
    "  gps_rate, alarm_rate, keepalive_rate: messages sent as % of those the online\n"
    "      devices were due to send over the run\n"
    "--allow-failures N is failures<=N, --expect-online P is online>=P%.\n\n";

const char kExitStatus[] =
    "Exit status: 0 every device asked to go online was online at the end, no\n"
    "failure was counted (see --allow-failures, --expect-online) and every\n"
    "--threshold held; 1 otherwise, or list.txt could not be written; 2 the command\n"
    "line was refused (a malformed --threshold among them) or a -e command failed\n"
    "(the run then ends before anything else is done).\n";

}  // namespace

void DefineCliOptions(CLI::App& app, CliOptions& options) {
  app.description(kAbout);
  SetUpCommandLine(app);
  app.add_option("-e", options.commands, "Run COMMAND (a console command, below) before reading standard input; "
                                         "repeatable, run in order")
      ->type_name("COMMAND")
      ->allow_extra_args(false);
  app.add_option("--duration", options.nDurationSec, "End the run after SECONDS (default: run until quit or a signal)")
      ->check(CLI::Range(0, INT32_MAX).description(""))
      ->type_name("SECONDS");
  app.add_option("--stats", options.nStatsSec, "Print one line of fleet figures every SECONDS (at least 1)")
      ->check(CLI::Range(1, INT32_MAX).description(""))
      ->type_name("SECONDS");
  app.add_option("--stats-file", options.report.szStatsFile,
                 "Write the stats figures to PATH as well: CSV (a header row, then one row per --stats "
                 "interval) or JSON lines")
      ->type_name("PATH");
  app.add_option("--stats-format", options.report.szStatsFormat, "Format of --stats-file: csv (default) or jsonl")
      ->check(CLI::IsMember({STATS_FORMAT_CSV, STATS_FORMAT_JSONL}))
      ->type_name("FORMAT");
  app.add_option("--metrics", options.report.szMetrics,
                 "Serve the figures for Prometheus at http://HOST:PORT/metrics (PORT alone: 127.0.0.1)")
      ->type_name("HOST:PORT");
  app.add_option("--allow-failures", options.report.nAllowFailures,
                 "Failures the run may count and still pass (default 0)")
      ->check(CLI::Range(0, INT32_MAX).description(""))
      ->type_name("N");
  app.add_option("--expect-online", options.report.dExpectOnlinePct,
                 "Share of the devices asked to go online that must be online at the end to pass (default 100)")
      ->check(CLI::Range(0.0, 100.0).description(""))
      ->type_name("PCT");
  app.add_option("--threshold", options.report.thresholdTexts,
                 "Pass only when EXPR holds at the end: NAME OP VALUE, as login_p99<500ms, failures<=10, "
                 "online>=99%, gps_rate>=95%; repeatable (see Thresholds below)")
      ->type_name("EXPR")
      ->allow_extra_args(false);
  app.add_option("--scenario", options.szScenario,
                 "Run the load test FILE describes (YAML: server, frames, devices, phases, thresholds); "
                 "the run ends after its last phase")
      ->type_name("FILE");
  AddShardOptions(app, options.shard);
  AddFleetRunOptions(app, options.run);
  app.footer(CCliCore::HelpText() + kThresholds + kExitStatus);
}
