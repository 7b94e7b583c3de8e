// zel-mkframes: converts an H.264 elementary stream into a frame file, makes a
// synthetic frame file, or checks one the way the live sender reads it.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/command_line.h"
#include "media/frame_check.h"
#include "media/frame_synth.h"
#include "media/h264_access_units.h"
#include "platform/debug_log.h"

namespace {

const char kAbout[] = "zel-mkframes: makes frame files for the live view and checks them.\n";

const char kExitStatus[] =
    "Exit status: 0 done (check: at least one valid chunk); 1 nothing usable\n"
    "(convert: no picture found; check: no valid chunk); 2 the command line was\n"
    "refused, or a file could not be read or written.\n";

struct ConvertArgs {
  std::string szIn;
  std::string szOut;
  int32_t nFps = 25;
};

struct SynthArgs {
  std::string szOut;
  SynthOptions opt;
};

bool ReadWholeFile(const char* path, std::vector<uint8_t>* data) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) data->insert(data->end(), buf, buf + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

int RunConvert(const ConvertArgs& args) {
  const char* in = args.szIn.c_str();
  const char* outPath = args.szOut.c_str();
  std::vector<uint8_t> data;
  if (!ReadWholeFile(in, &data)) {
    fprintf(stderr, "zel-mkframes: cannot read %s: %s\n", in, strerror(errno));
    return EXIT_USAGE;
  }
  CFrameFileWriter out;
  if (!out.Create(outPath)) {
    fprintf(stderr, "zel-mkframes: cannot create %s: %s\n", outPath, strerror(errno));
    return EXIT_USAGE;
  }
  ConvertResult res;
  ConvertAccessUnits(data.data(), data.size(), args.nFps, out, &res);
  if (!out.Close()) {
    fprintf(stderr, "zel-mkframes: writing %s failed\n", outPath);
    return EXIT_USAGE;
  }
  printf("chunks: %lld\nkey frames: %lld\nunits without a picture: %lld\noversize units left out: %lld\n"
         "bytes before the first start code: %lld\n",
         static_cast<long long>(res.nChunks), static_cast<long long>(res.nKeyFrames),
         static_cast<long long>(res.nNoPicture), static_cast<long long>(res.nOversize),
         static_cast<long long>(res.nLeading));
  if (res.nChunks > 0) return 0;
  // An empty frame file would only leave a live stream idle: do not leave one behind.
  remove(outPath);
  fprintf(stderr, "zel-mkframes: no picture found in %s; %s not written\n", in, outPath);
  return 1;
}

int RunSynth(const CLI::App& app, const SynthArgs& args) {
  std::string error = CheckSynthOptions(args.opt);
  if (!error.empty()) return UsageError(app, error);
  const char* outPath = args.szOut.c_str();
  CFrameFileWriter out;
  if (!out.Create(outPath)) {
    fprintf(stderr, "zel-mkframes: cannot create %s: %s\n", outPath, strerror(errno));
    return EXIT_USAGE;
  }
  int64_t n = WriteSynthFrames(out, args.opt);
  if (!out.Close()) {
    fprintf(stderr, "zel-mkframes: writing %s failed\n", outPath);
    return EXIT_USAGE;
  }
  printf("chunks: %lld\n", static_cast<long long>(n));
  return 0;
}

// Shows the walk's oversize messages but not the restart line that ends it.
class CCheckSink : public IDebugSink {
 public:
  void OnDebugLine(std::string_view line) override {
    if (line != "dev - seek to file begin.") fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  }
};

int RunCheck(const std::string& path) {
  CCheckSink sink;
  SetDebugSink(&sink);
  FrameCheckResult res;
  bool ok = CheckFrameFile(path.c_str(), &res);
  SetDebugSink(nullptr);
  if (!ok) {
    fprintf(stderr, "zel-mkframes: cannot read %s (missing, unreadable or not a regular file)\n", path.c_str());
    return EXIT_USAGE;
  }
  fputs(FormatFrameCheck(res).c_str(), stdout);
  return res.nChunks > 0 ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  CLI::App app(kAbout, "zel-mkframes");
  SetUpCommandLine(app);
  app.require_subcommand(1);
  app.footer(kExitStatus);

  ConvertArgs conv;
  CLI::App* convert = app.add_subcommand("convert", "One chunk per access unit of an H.264 Annex-B stream");
  convert->add_option("IN", conv.szIn, "The H.264 stream")->required();
  convert->add_option("OUT", conv.szOut, "The frame file to write")->required();
  convert->add_option("--fps", conv.nFps, "Frames per second (default 25)")
      ->check(CLI::Range(1, SYNTH_MAX_FPS).description(""))
      ->type_name("N");

  SynthArgs syn;
  CLI::App* synth = app.add_subcommand("synth", "Filler chunks: SECONDS*N chunks, a key frame every G");
  synth->add_option("OUT", syn.szOut, "The frame file to write")->required();
  synth->add_option("--seconds", syn.opt.nSeconds, "Length, 1 to 86400")->required()->type_name("S");
  synth->add_option("--fps", syn.opt.nFps, "Chunks per second, 1 to 1000 (default 25)")->type_name("N");
  synth->add_option("--gop", syn.opt.nGop, "Chunks from one key frame to the next (default 25)")->type_name("G");
  synth->add_option("--size", syn.opt.nSize, "Payload bytes per chunk (default 4000)")->type_name("BYTES");
  synth->add_option("--channel", syn.opt.nChannel, "Channel digit 0 to 9 (default 0)")->type_name("C");

  std::string checkPath;
  CLI::App* check = app.add_subcommand("check", "Walks FILE as the live sender does and reports what it found");
  check->add_option("FILE", checkPath, "The frame file")->required();

  int status = ParseCommandLine(app, argc, argv);
  if (status >= 0) return status;
  if (convert->parsed()) return RunConvert(conv);
  if (synth->parsed()) return RunSynth(app, syn);
  return RunCheck(checkPath);
}
