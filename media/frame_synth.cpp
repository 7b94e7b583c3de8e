#include "media/frame_synth.h"

#include <vector>

std::string CheckSynthOptions(const SynthOptions& opt) {
  if (opt.nSeconds < 1 || opt.nSeconds > SYNTH_MAX_SECONDS) return "--seconds must be 1 to 86400";
  if (opt.nFps < 1 || opt.nFps > SYNTH_MAX_FPS) return "--fps must be 1 to 1000";
  if (opt.nGop < 1) return "--gop must be 1 or more";
  if (opt.nSize < SYNTH_MIN_SIZE || opt.nSize > FRAME_H264_MAX_PAYLOAD) return "--size must be 5 to 1499976";
  if (opt.nChannel < 0 || opt.nChannel > 9) return "--channel must be 0 to 9";
  return {};
}

void FillSynthPayload(uint8_t* payload, int32_t nSize, int64_t index, bool bKey) {
  static const uint8_t kHead[5] = {0, 0, 0, 1, 0};
  for (int32_t k = 0; k < 4 && k < nSize; ++k) payload[k] = kHead[k];
  if (nSize > 4) payload[4] = bKey ? 0x65 : 0x41;
  // Nonzero filler, so the payload never holds another start code.
  for (int32_t k = 5; k < nSize; ++k) payload[k] = static_cast<uint8_t>(0x80 | ((k * 13 + index * 7) & 0x7F));
}

int64_t WriteSynthFrames(CFrameFileWriter& out, const SynthOptions& opt) {
  if (!CheckSynthOptions(opt).empty()) return -1;
  std::vector<uint8_t> payload(static_cast<size_t>(opt.nSize));
  int64_t count = int64_t{opt.nSeconds} * opt.nFps;
  for (int64_t i = 0; i < count; ++i) {
    bool bKey = i % opt.nGop == 0;
    FillSynthPayload(payload.data(), opt.nSize, i, bKey);
    AppendH264Chunk(out, opt.nChannel, bKey, FrameTimeUs(i, opt.nFps), payload.data(),
                    static_cast<uint32_t>(payload.size()));
  }
  return count;
}
