#include "tools/server/server_options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// Options that take a value; false when name is not one of them.
bool ApplyValueOption(const std::string& name, const char* value, ServerOptions* opt, std::string* error) {
  unsigned long v = 0;
  if (name == "--listen") {
    if (!ParseListenAddress(value, &opt->szListenIp, &opt->nPort)) *error = std::string("bad --listen: ") + value;
  } else if (name == "--stats") {
    if (ParseUnsigned(value, 86400, &v)) {
      opt->nStatsSeconds = static_cast<int32_t>(v);
    } else {
      *error = std::string("bad --stats: ") + value;
    }
  } else if (name == "--idle-timeout") {
    if (ParseUnsigned(value, 86400, &v)) {
      opt->nIdleSeconds = static_cast<int32_t>(v);
    } else {
      *error = std::string("bad --idle-timeout: ") + value;
    }
  } else if (name == "--record") {
    opt->szRecordDir = value;
    if (opt->szRecordDir.empty()) *error = "empty --record directory";
  } else {
    return false;
  }
  return true;
}

bool ApplyFlag(const std::string& name, ServerOptions* opt, bool* pHelp) {
  if (name == "--no-login-answer") {
    opt->bNoLoginAnswer = true;
  } else if (name == "--reply-to-uploads") {
    opt->bReplyToUploads = true;
  } else if (name == "--quiet") {
    opt->bQuiet = true;
  } else if (name == "--help" || name == "-h") {
    *pHelp = true;
  } else {
    return false;
  }
  return true;
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

bool ParseServerArgs(int argc, const char* const* argv, ServerOptions* opt, bool* pHelp, std::string* error) {
  *pHelp = false;
  for (int i = 1; i < argc; i++) {
    std::string name = argv[i];
    if (ApplyFlag(name, opt, pHelp)) continue;
    if (name == "--listen" || name == "--stats" || name == "--record" || name == "--idle-timeout") {
      if (i + 1 >= argc) {
        *error = "missing value after " + name;
        return false;
      }
      ApplyValueOption(name, argv[++i], opt, error);
      if (!error->empty()) return false;
      continue;
    }
    *error = "unknown option: " + name;
    return false;
  }
  return true;
}

const char* ServerUsage() {
  return "usage: zel-server [--listen IP:PORT] [--stats SECONDS] [--record DIR]\n"
         "                  [--idle-timeout SECONDS] [--no-login-answer] [--reply-to-uploads] [--quiet]\n"
         "  --listen IP:PORT     address to listen on (default 127.0.0.1:5556; port 0 picks one)\n"
         "  --stats SECONDS      print a statistics line every SECONDS\n"
         "  --record DIR         write live H.264 payloads to DIR/<stream>-ch<N>.h264\n"
         "  --idle-timeout SECONDS  close a connection that holds half a packet, or has not\n"
         "                       sent a whole one since it opened, for SECONDS (default 60; 0 never)\n"
         "  --no-login-answer    accept logins but never answer them\n"
         "  --reply-to-uploads   answer GPS and alarm uploads\n"
         "  --quiet              no line per login, upload or stream event\n"
         "Commands on standard input: help lists them.\n";
}
