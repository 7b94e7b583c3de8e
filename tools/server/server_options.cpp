#include "tools/server/server_options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>

#include "app/cli/command_line.h"

namespace {
bool ParseUnsigned(const char* text, unsigned long maxValue, unsigned long* out) {
  if (!text || !*text || *text == '-' || *text == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long v = strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > maxValue) return false;
  *out = v;
  return true;
}

const char kAbout[] =
    "zel-server: a Register Server for tests and demos. Accepts the devices'\n"
    "logins, counts their messages, asks them for streams from the console on\n"
    "standard input and prints what happens on standard output.\n";

const char kFooter[] =
    "Console commands on standard input: help lists them. A MASK of channels has\n"
    "bit i for channel i (1 channel 0, 5 channels 0 and 2, 15 channels 0 to 3).\n"
    "Exit status: 0 after quit, SIGINT or SIGTERM; 1 the server could not start;\n"
    "2 the command line was refused.\n";

// Whole seconds from 0 to one day.
CLI::Validator Seconds() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        unsigned long v = 0;
        return ParseUnsigned(text.c_str(), 86400, &v) ? std::string() : "not a whole number of seconds from 0 to 86400: " + text;
      },
      "");
}
// --login-delay and --stream-delay: "MS" or "MS:JITTER".
void AddDelayOption(CLI::App& app, const std::string& name, AnswerDelay* out, const std::string& what) {
  app.add_option_function<std::string>(
         name,
         [name, out](const std::string& text) {
           std::string why;
           if (!ParseAnswerDelay(text, out, &why)) throw CLI::ValidationError(name, why);
         },
         "Hold each " + what + " answer MS milliseconds before sending it (default 0: at once); MS:JITTER "
         "draws each hold uniformly from MS-JITTER to MS+JITTER (JITTER at most MS)")
      ->type_name("MS[:JITTER]");
}
}  // namespace

bool ParseListenAddress(const std::string& text, std::string* ip, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = text.substr(0, colon);
  in_addr addr{};
  unsigned long v = 0;
  if (inet_pton(AF_INET, host.c_str(), &addr) != 1) return false;
  if (!ParseUnsigned(text.c_str() + colon + 1, 65535, &v)) return false;
  *ip = host;
  *port = static_cast<uint16_t>(v);
  return true;
}

void DefineServerOptions(CLI::App& app, ServerOptions* opt) {
  app.description(kAbout);
  SetUpCommandLine(app);
  app.add_option_function<std::string>(
         "--listen",
         [opt](const std::string& text) {
           if (!ParseListenAddress(text, &opt->szListenIp, &opt->nPort))
             throw CLI::ValidationError("--listen", "not IP:PORT with a dotted IPv4 address and a port 0 to 65535: " + text);
         },
         "Address to listen on (default 127.0.0.1:5556; port 0 picks one)")
      ->type_name("IP:PORT");
  AddDelayOption(app, "--login-delay", &opt->loginDelay, "CONNECT");
  AddDelayOption(app, "--stream-delay", &opt->streamDelay, "CREATESTREAM");
  app.add_option("--stats", opt->nStatsSeconds, "Print a statistics line every SECONDS (default 0: none)")
      ->check(Seconds())
      ->type_name("SECONDS");
  app.add_option("--record", opt->szRecordDir, "Write live H.264 payloads to DIR/<stream>-ch<N>.h264")
      ->check(CLI::Validator([](std::string& dir) { return dir.empty() ? std::string("empty directory") : std::string(); }, ""))
      ->type_name("DIR");
  app.add_option("--idle-timeout", opt->nIdleSeconds,
                 "Close a connection that holds half a packet, or has not sent a whole one since it opened, "
                 "for SECONDS (default 60; 0 never)")
      ->check(Seconds())
      ->type_name("SECONDS");
  app.add_option("--stats-file", opt->szStatsFile,
                 "Write the --stats figures to PATH as well: CSV (a header row, then one row per interval) or "
                 "JSON lines")
      ->type_name("PATH");
  app.add_option("--stats-format", opt->szStatsFormat, "Format of --stats-file: csv (default) or jsonl")
      ->check(CLI::IsMember({"csv", "jsonl"}))
      ->type_name("FORMAT");
  app.add_option("--metrics", opt->szMetrics,
                 "Serve the figures for Prometheus at http://HOST:PORT/metrics (PORT alone: 127.0.0.1)")
      ->type_name("HOST:PORT");
  app.add_flag("--reuse-port", opt->bReusePort,
               "Share the --listen port with other zel-server processes (SO_REUSEPORT); media connections come "
               "to a port of this process's own, which its stream requests name");
  app.add_flag("--no-login-answer", opt->bNoLoginAnswer, "Accept logins but never answer them");
  app.add_flag("--reply-to-uploads", opt->bReplyToUploads, "Answer GPS and alarm uploads");
  app.add_flag("--quiet", opt->bQuiet, "No line per login, upload or stream event");
  app.footer(kFooter);
}
