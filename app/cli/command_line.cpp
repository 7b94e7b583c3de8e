#include "app/cli/command_line.h"

#include <cstdio>

#include "zel_version.h"

namespace {
void PrintRefusal(const CLI::App& app, const std::string& message) {
  fprintf(stderr, "%s: %s\nRun with --help for more information.\n", app.get_name().c_str(), message.c_str());
}
}  // namespace

void SetUpCommandLine(CLI::App& app) {
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", app.get_name() + " " + ZEL_VERSION, "Print the version and exit");
}

int ParseCommandLine(CLI::App& app, int argc, const char* const* argv) {
  try {
    app.parse(argc, argv);
    return -1;
  } catch (const CLI::CallForHelp&) {
    fputs(app.help().c_str(), stdout);
  } catch (const CLI::CallForAllHelp&) {
    fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
  } catch (const CLI::CallForVersion& e) {
    printf("%s\n", e.what());
  } catch (const CLI::ParseError& e) {
    PrintRefusal(app, e.what());
    return EXIT_USAGE;
  }
  fflush(stdout);
  return 0;
}

int UsageError(const CLI::App& app, const std::string& message) {
  PrintRefusal(app, message);
  return EXIT_USAGE;
}
