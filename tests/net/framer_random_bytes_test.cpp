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

Bytes Cd(std::mt19937& rng, uint16_t n) {
  static const int kHead[] = {30, 30, 30, 26, 18};
  static const int kLenAt[] = {28, 28, 28, 24, 16};
  int v = static_cast<int>(rng() % 5);
  Bytes b = RandomBytes(rng, static_cast<size_t>(kHead[v]));
  b[1] = '1', b[2] = 'c', b[3] = 'd';
  b[15] = static_cast<uint8_t>(v << 4 | (b[15] & 15));
  b[static_cast<size_t>(kLenAt[v])] = static_cast<uint8_t>(n >> 8);
  b[static_cast<size_t>(kLenAt[v]) + 1] = static_cast<uint8_t>(n);
  return Concat(b, RandomBytes(rng, n));
}

// One valid frame of the kind, with n to n + 20 payload bytes, long enough
// for the kind to look at the frame behind it.
Bytes ValidFrame(int32_t kind, std::mt19937& rng, uint16_t n) {
  Bytes pay = RandomBytes(rng, n);
  auto u = [](size_t v) { return static_cast<uint32_t>(v); };
  switch (kind) {
    case FRAME_NAPI: return MakeNapiPacket(static_cast<int32_t>(rng() % 6), 0, pay, static_cast<uint8_t>((rng() % 3) << 4));
    case FRAME_TRANS: return Concat(Concat(Le32Bytes(u(12 + n)), RandomBytes(rng, 8)), pay);
    case FRAME_TAGGED:
      if (rng() % 2) return Dc99(rng, 4 + n % 9000);
      return Concat(Concat(Le32Bytes(0x15437638u), Concat(RandomBytes(rng, 4), Le32Bytes(n))), pay);
    case FRAME_99DC: return Dc99(rng, n % 9000);
    case FRAME_RTSP: return Concat(Concat(Bytes{'$', 1}, Be16Bytes(n)), pay);
    case FRAME_TRAIN: return Concat(Concat(Bytes{0xFF, 2}, Concat(Be16Bytes(n), Bytes{3})), pay);
    case FRAME_MVSP: return Concat(Concat(TextBytes("MVSP"), Concat(Le32Bytes(n), RandomBytes(rng, 8))), pay);
    case FRAME_HEAD26: return Concat(Concat(RandomBytes(rng, 24), Be16Bytes(n)), pay);
    case FRAME_CD: return Cd(rng, n);
    case FRAME_S17: return Concat(Concat(TextBytes("$$"), Concat(RandomBytes(rng, 6), Be32Bytes(n))), pay);
    case FRAME_RSP: {
      Bytes b = Concat(TextBytes("RSPH"), Concat(RandomBytes(rng, 12), Le32Bytes(u(20 + n))));
      return Concat(b, pay);
    }
    case FRAME_CHUNK:
      if (rng() % 2) return Concat(Concat(TextBytes("01wb"), Concat(Bytes{0, 0}, Le16Bytes(u(16 + n) & 0xFFFF))), Concat(Bytes(16, 0), pay));
      return Concat(Concat(TextBytes("00dc"), Concat(Bytes(4, 0), Concat(Le32Bytes(n), Bytes(12, 0)))), pay);
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
    ASSERT_GE(f.sock.nBuffered, 0);
    ASSERT_LT(f.sock.nBuffered, f.sock.nLimit);
    ASSERT_LE(f.sock.nBuffered, f.sock.nCapacity);
  }
}

// Frames lie inside the buffered bytes (or, for the raw kind, are the chunk).
void CheckFramesInBuffer(FramerHarness& f) {
  f.onFrame = [&f](uint8_t* data, int32_t len) {
    ASSERT_GE(len, 1);
    if (f.sock.nKind.load() == FRAME_RAW) return;
    ASSERT_GE(data, f.sock.pBuffer);
    ASSERT_LE(data + len, f.sock.pBuffer + f.sock.nBuffered);
  };
}

const int32_t kFramedKinds[] = {1, 2, 3, 4, 6, 7, 8, 9, 10, 12, 13, 14};

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
      // Kinds 9 and 10 convert fields in place; the others deliver the bytes as sent.
      if (kind != FRAME_HEAD26 && kind != FRAME_CD) {
        EXPECT_EQ(f.frames, sent) << "kind " << kind;
      }
      for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(f.frames[i].size(), sent[i].size());
      // Nothing but the buffer's growth is worth a message in a clean stream.
      EXPECT_EQ(cap.CountContaining("buffer small"), static_cast<int>(cap.Lines().size()));
      cap.Clear();
    }
  }
}

TEST(FramerRandomBytes, DamagedStreamsAndNoiseNeverEscapeTheBuffer) {
  DebugCapture cap;  // keeps the flood of messages off the test output
  const int32_t kinds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 99};
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
