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

const char kExitStatus[] =
    "Exit status: 0 done; 1 list.txt could not be written, or the run could not start;\n"
    "2 the command line was refused.\n";

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
  AddFleetRunOptions(app, options.run);
  app.footer(CCliCore::HelpText() + kExitStatus);
}
