#include "app/cli/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/exe_dir.h"
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

void AddFleetRunOptions(CLI::App& app, FleetRunOptions& options) {
  app.add_option("--dir", options.szDir,
                 "Keep devset.txt, gps.txt and list.txt in DIR, an existing directory "
                 "(default: beside the executable)")
      ->check(CLI::ExistingDirectory.description(""))
      ->type_name("DIR");
  app.add_option("--log", options.szLog,
                 "Append the debug lines to FILE instead of writing them to standard error")
      ->type_name("FILE");
  app.add_flag("-q,--quiet", options.bQuiet,
               "Write only the debug channel's error lines (failures), none of its progress and message lines");
}

std::string FleetDir(const FleetRunOptions& options) {
  if (options.szDir.empty()) return GetExeDir();
  std::string dir = options.szDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

CDebugChannelSetup::~CDebugChannelSetup() {
  if (bSinkInstalled_) SetDebugSink(nullptr);
  SetDebugQuiet(false);
}

bool CDebugChannelSetup::Apply(const FleetRunOptions& options, std::string* error) {
  if (!options.szLog.empty()) {
    if (!file_.Open(options.szLog)) {
      *error = "--log: cannot open " + options.szLog + ": " + strerror(errno);
      return false;
    }
    SetDebugSink(&file_);
    bSinkInstalled_ = true;
  }
  SetDebugQuiet(options.bQuiet);
  return true;
}
