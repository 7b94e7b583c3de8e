// zel-mkframes: converts an H.264 elementary stream into a frame file, makes a
// synthetic frame file, or checks one the way the live sender reads it.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "media/frame_check.h"
#include "media/frame_synth.h"
#include "media/h264_access_units.h"
#include "platform/debug_log.h"

namespace {
constexpr int EXIT_USAGE = 2;

const char kUsage[] =
    "usage:\n"
    "  zel-mkframes convert IN.h264 OUT [--fps N]\n"
    "      one chunk per access unit of an H.264 Annex-B stream (default 25 fps)\n"
    "  zel-mkframes synth OUT --seconds S [--fps N] [--gop G] [--size BYTES] [--channel C]\n"
    "      filler chunks: S*N chunks, a key frame every G, BYTES payload bytes (default 25 fps,\n"
    "      G 25, 4000 bytes, channel 0)\n"
    "  zel-mkframes check FILE\n"
    "      walks FILE as the live sender does and reports what it found;\n"
    "      exit status 0 when it holds at least one valid chunk, 1 otherwise\n"
    "exit status 2: bad arguments or a file that cannot be read or written\n";

int Usage(const std::string& error) {
  if (!error.empty()) fprintf(stderr, "zel-mkframes: %s\n", error.c_str());
  fputs(kUsage, stderr);
  return EXIT_USAGE;
}

bool ParseInt(const char* text, int32_t* value) {
  errno = 0;
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// Reads "--name value" pairs from argv[first..]; every name must be in names.
bool ParseOptions(int argc, char** argv, int first, const std::vector<std::pair<const char*, int32_t*>>& names,
                  std::string* error) {
  for (int i = first; i < argc; i += 2) {
    int32_t* target = nullptr;
    for (const auto& [name, slot] : names)
      if (strcmp(argv[i], name) == 0) target = slot;
    if (!target) return *error = std::string("unknown argument ") + argv[i], false;
    if (i + 1 >= argc) return *error = std::string(argv[i]) + " needs a value", false;
    if (!ParseInt(argv[i + 1], target)) return *error = std::string("bad number for ") + argv[i], false;
  }
  return true;
}

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

int RunConvert(int argc, char** argv) {
  if (argc < 4) return Usage("convert needs IN and OUT");
  int32_t fps = 25;
  std::string error;
  if (!ParseOptions(argc, argv, 4, {{"--fps", &fps}}, &error)) return Usage(error);
  if (fps < 1 || fps > SYNTH_MAX_FPS) return Usage("--fps must be 1 to 1000");
  std::vector<uint8_t> data;
  if (!ReadWholeFile(argv[2], &data)) {
    fprintf(stderr, "zel-mkframes: cannot read %s: %s\n", argv[2], strerror(errno));
    return EXIT_USAGE;
  }
  CFrameFileWriter out;
  if (!out.Create(argv[3])) {
    fprintf(stderr, "zel-mkframes: cannot create %s: %s\n", argv[3], strerror(errno));
    return EXIT_USAGE;
  }
  ConvertResult res;
  ConvertAccessUnits(data.data(), data.size(), fps, out, &res);
  if (!out.Close()) {
    fprintf(stderr, "zel-mkframes: writing %s failed\n", argv[3]);
    return EXIT_USAGE;
  }
  printf("chunks: %lld\nkey frames: %lld\nunits without a picture: %lld\noversize units left out: %lld\n"
         "bytes before the first start code: %lld\n",
         static_cast<long long>(res.nChunks), static_cast<long long>(res.nKeyFrames),
         static_cast<long long>(res.nNoPicture), static_cast<long long>(res.nOversize),
         static_cast<long long>(res.nLeading));
  if (res.nChunks > 0) return 0;
  // An empty frame file would only leave a live stream idle: do not leave one behind.
  remove(argv[3]);
  fprintf(stderr, "zel-mkframes: no picture found in %s; %s not written\n", argv[2], argv[3]);
  return 1;
}

int RunSynth(int argc, char** argv) {
  if (argc < 3) return Usage("synth needs OUT");
  SynthOptions opt;
  std::string error;
  if (!ParseOptions(argc, argv, 3,
                    {{"--seconds", &opt.nSeconds},
                     {"--fps", &opt.nFps},
                     {"--gop", &opt.nGop},
                     {"--size", &opt.nSize},
                     {"--channel", &opt.nChannel}},
                    &error))
    return Usage(error);
  error = CheckSynthOptions(opt);
  if (!error.empty()) return Usage(error);
  CFrameFileWriter out;
  if (!out.Create(argv[2])) {
    fprintf(stderr, "zel-mkframes: cannot create %s: %s\n", argv[2], strerror(errno));
    return EXIT_USAGE;
  }
  int64_t n = WriteSynthFrames(out, opt);
  if (!out.Close()) {
    fprintf(stderr, "zel-mkframes: writing %s failed\n", argv[2]);
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

int RunCheck(int argc, char** argv) {
  if (argc != 3) return Usage("check needs exactly one FILE");
  CCheckSink sink;
  SetDebugSink(&sink);
  FrameCheckResult res;
  bool ok = CheckFrameFile(argv[2], &res);
  SetDebugSink(nullptr);
  if (!ok) {
    fprintf(stderr, "zel-mkframes: cannot read %s (missing, unreadable or not a regular file)\n", argv[2]);
    return EXIT_USAGE;
  }
  fputs(FormatFrameCheck(res).c_str(), stdout);
  return res.nChunks > 0 ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("");
  std::string_view mode = argv[1];
  if (mode == "convert") return RunConvert(argc, argv);
  if (mode == "synth") return RunSynth(argc, argv);
  if (mode == "check") return RunCheck(argc, argv);
  if (mode == "-h" || mode == "--help") {
    fputs(kUsage, stdout);
    return 0;
  }
  return Usage("unknown mode " + std::string(mode));
}
