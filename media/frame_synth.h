#pragma once
#include <cstdint>
#include <string>

#include "media/frame_writer.h"

// A synthetic frame file: H264-layout chunks with filler payloads, one key
// frame at the start of each group of pictures, time stamps stepping 1e6/fps µs.
struct SynthOptions {
  int32_t nSeconds = 0;
  int32_t nFps = 25;
  int32_t nGop = 25;      // chunks per group of pictures
  int32_t nSize = 4000;   // payload bytes per chunk
  int32_t nChannel = 0;   // channel digit 0-9
};

constexpr int32_t SYNTH_MAX_SECONDS = 86400;
constexpr int32_t SYNTH_MAX_FPS = 1000;
constexpr int32_t SYNTH_MIN_SIZE = 5;  // start code and NAL header byte

// Empty when the options are usable, otherwise what is wrong with them.
std::string CheckSynthOptions(const SynthOptions& opt);

// Payload of frame index: 00 00 00 01, NAL header 0x65 (key) or 0x41, then
// deterministic nonzero filler. payload holds opt.nSize bytes.
void FillSynthPayload(uint8_t* payload, int32_t nSize, int64_t index, bool bKey);

// Appends nSeconds * nFps chunks to out. Returns the number of chunks, or -1
// when the options are unusable.
int64_t WriteSynthFrames(CFrameFileWriter& out, const SynthOptions& opt);
