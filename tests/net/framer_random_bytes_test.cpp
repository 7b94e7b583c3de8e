// Random input for every framing kind. Clean streams of valid frames cut at
// random points must come out frame by frame; damaged streams and plain noise
// must never crash, reach outside the buffer, hand out empty frames or grow
// past the limit. Run under the address and undefined-behaviour sanitizers.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "net/my_socket.h"
#include "tests/support/debug_capture.h"
#include "tests/support/framer_harness.h"

namespace {

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes Dc99(std::mt19937& rng, int n) {
  char head[9];
  snprintf(head, sizeof head, "99dc%04d", n);
  return Concat(TextBytes(head), RandomBytes(rng, static_cast<size_t>(n)));
}

// One valid frame of the kind, with n to n + 20 payload bytes, long enough
// for the kind to look at the frame behind it.
Bytes ValidFrame(int32_t kind, std::mt19937& rng, uint16_t n) {
  Bytes pay = RandomBytes(rng, n);
  switch (kind) {
    case FRAME_NAPI: return MakeNapiPacket(static_cast<int32_t>(rng() % 6), 0, pay, static_cast<uint8_t>((rng() % 3) << 4));
    case FRAME_TAGGED:
      if (rng() % 2) return Dc99(rng, 4 + n % 9000);
      return Concat(Concat(Le32Bytes(0x15437638u), Concat(RandomBytes(rng, 4), Le32Bytes(n))), pay);
    case FRAME_99DC: return Dc99(rng, n % 9000);
    default: return pay;
  }
}

// Feeds stream in chunks of random size; stops when the framer refuses.
void FeedInPieces(FramerHarness& f, const Bytes& stream, std::mt19937& rng, int* result) {
  *result = 0;
  for (size_t pos = 0; pos < stream.size() && *result == 0;) {
    size_t n = std::min(stream.size() - pos, std::uniform_int_distribution<size_t>(1, 700)(rng));
    *result = f.Feed(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(pos), stream.begin() + static_cast<std::ptrdiff_t>(pos + n)));
    pos += n;
    ASSERT_GE(f.sock.Buffered(), 0);
    ASSERT_LT(f.sock.Buffered(), f.nMaxBuf);
    ASSERT_LE(f.sock.Buffered(), f.sock.BufferCapacity());
  }
}

// Frames lie inside the buffered bytes.
void CheckFramesInBuffer(FramerHarness& f) {
  f.onFrame = [&f](uint8_t* data, int32_t len) {
    ASSERT_GE(len, 1);
    ASSERT_GE(data, f.sock.BufferData());
    ASSERT_LE(data + len, f.sock.BufferData() + f.sock.Buffered());
  };
}

const int32_t kFramedKinds[] = {FRAME_NAPI, FRAME_TAGGED, FRAME_99DC};

TEST(FramerRandomBytes, CleanStreamsOfEveryKindSurviveRandomSplits) {
  DebugCapture cap;
  for (int32_t kind : kFramedKinds) {
    for (uint32_t seed = 1; seed <= 10; ++seed) {
      std::mt19937 rng(seed * 977 + static_cast<uint32_t>(kind));
      std::vector<Bytes> sent;
      Bytes stream;
      for (int i = 0; i < 40; ++i) {
        sent.push_back(ValidFrame(kind, rng, static_cast<uint16_t>(rng() % 1500)));
        stream = Concat(stream, sent.back());
      }
      FramerHarness f(kind, 600000);
      CheckFramesInBuffer(f);
      int result = 0;
      FeedInPieces(f, stream, rng, &result);
      ASSERT_EQ(result, 0) << "kind " << kind << " seed " << seed;
      ASSERT_EQ(f.frames.size(), sent.size()) << "kind " << kind << " seed " << seed;
      EXPECT_EQ(f.frames, sent) << "kind " << kind;
      // Nothing but the buffer's growth is worth a message in a clean stream.
      EXPECT_EQ(cap.CountContaining("buffer small"), static_cast<int>(cap.Lines().size()));
      cap.Clear();
    }
  }
}

TEST(FramerRandomBytes, DamagedStreamsAndNoiseNeverEscapeTheBuffer) {
  DebugCapture cap;  // keeps the flood of messages off the test output
  const int32_t kinds[] = {FRAME_DETECT, FRAME_NAPI, FRAME_TAGGED, FRAME_99DC, FRAME_7E, 99};
  for (int32_t kind : kinds) {
    for (uint32_t seed = 1; seed <= 25; ++seed) {
      std::mt19937 rng(seed * 131 + static_cast<uint32_t>(kind));
      Bytes stream;
      for (int i = 0; i < 30; ++i) {
        Bytes frame = ValidFrame(kind == 0 ? 1 : kind, rng, static_cast<uint16_t>(rng() % 300));
        if (frame.empty()) continue;
        if (rng() % 4 == 0) frame[rng() % frame.size()] = static_cast<uint8_t>(rng());
        if (rng() % 6 == 0) frame.resize(rng() % frame.size());
        if (rng() % 6 == 0) frame = Concat(frame, RandomBytes(rng, rng() % 30));
        stream = Concat(stream, frame);
      }
      FramerHarness f(kind, 3000);
      CheckFramesInBuffer(f);
      int result = 0;
      FeedInPieces(f, stream, rng, &result);
      cap.Clear();
    }
  }
}

}  // namespace
