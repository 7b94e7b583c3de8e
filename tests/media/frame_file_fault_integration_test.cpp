// The frame file changes under running streams: truncated mid-chunk,
// rewritten in place with other content, or replaced by a rename. A live
// stream (paced chunks) and a remote playback (raw blocks) play it at once.
// The file is read once per process: running streams keep playing the bytes
// they started with, streams started after a change read the file again, no
// torn or mixed chunk ever leaves, and a stop still ends them all and frees
// their slots.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "media/media_senders.h"
#include "tests/media/media_rig.h"
#include "tests/support/debug_capture.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr size_t kChunkPayload = 1500;

// Chunks first .. first + count - 1, 40 ms apart, a key frame every fifth.
std::vector<Bytes> MakeChunks(uint32_t first, uint32_t count) {
  std::vector<Bytes> out;
  for (uint32_t i = 0; i < count; ++i) {
    out.push_back(IndexedChunk(first + i, i % 5 == 0, (i + 1) * 40000ull, kChunkPayload + i));
  }
  return out;
}

Bytes Join(const std::vector<Bytes>& chunks) {
  Bytes file;
  for (const Bytes& c : chunks) AppendBytes(file, c);
  return file;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }


// Playback blocks are the file in order, 8,000 bytes at a time, the last one
// shorter; after it the file starts again. The cycle of block lengths of a
// file of `size` bytes whose size is not a multiple of 8,000.
struct BlockCycle {
  size_t nFull = 0;  // 8,000-byte blocks per pass
  size_t nTail = 0;  // length of the last block of a pass
};
BlockCycle CycleOf(size_t size) { return {size / PLAYBACK_BLOCK, size % PLAYBACK_BLOCK}; }

class FrameFileFaultTest : public ::testing::Test {
 protected:
  DebugCapture capture;
  CMediaRig rig;
  // Playback is unpaced and floods its connection: it has a server of its
  // own that keeps no payloads, so the live records keep theirs.
  CTestServer playSrv;
  std::vector<Bytes> oldChunks = MakeChunks(0, 25);
  Bytes oldFile = Join(oldChunks);
  int32_t nLive = -1;
  int32_t nPlay = -1;

  void SetUp() override {
    playSrv.SetAcceptAnyStream(true);
    ASSERT_TRUE(playSrv.Start());
    playSrv.SetRecordLimit(0);
    rig.Start();
    rig.UseFrames(oldFile);
    ASSERT_NE(oldFile.size() % PLAYBACK_BLOCK, 0u);
    nLive = rig.OpenStream("REQUESTALIVEVIDEO", "live", 1);
    ASSERT_GT(nLive, 0);
    rig.Send(CMediaRig::Request("REQUESTREMOTEPLAYBACK", "play", "127.0.0.1:" + std::to_string(playSrv.Port())));
    nPlay = playSrv.WaitForStream("play", kWaitMs);
    ASSERT_GT(nPlay, 0);
    ASSERT_TRUE(rig.WaitCount(nLive, NTYPE_LIVE, 3, kWaitMs));
    ASSERT_TRUE(WaitUntil([&] { return PlayCount() > 0; }, kWaitMs));
    // Paused while the file changes, so that what it sends afterwards was
    // read afterwards.
    PausePlayback();
  }
  void TearDown() override {
    rig.Stop();
    playSrv.Stop();
  }

  std::string Path() const { return rig.dir.File("frames.bin"); }

  int64_t PlayCount() const {
    ConnInfo info;
    if (!playSrv.Connection(nPlay, &info)) return 0;
    auto it = info.packetsByType.find(NTYPE_PLAYBACK);
    return it == info.packetsByType.end() ? 0 : it->second;
  }
  // True when no playback packet arrived for 300 ms.
  bool PlayStable() const {
    int64_t n = PlayCount();
    return !WaitUntil([&] { return PlayCount() > n; }, 300);
  }
  void PausePlayback() {
    rig.Control("CONTROLREMOTEPLAYBACK", "play", "PALYBACKCMD", 2);
    ASSERT_TRUE(WaitUntil([&] { return PlayStable(); }, kWaitMs));
  }
  // Resumes playback; returns the number of its packets received before.
  int64_t ResumePlayback() {
    int64_t n = PlayCount();
    rig.Control("CONTROLREMOTEPLAYBACK", "play", "PALYBACKCMD", 1);
    return n;
  }

  // Among the playback packets after the first `from`: the first channel-0
  // block of the cycle's tail length, then every channel-0 block up to the
  // next one of that length, which must be a whole pass of the file.
  void ExpectPlaybackCycle(int64_t from, BlockCycle cycle) const {
    int64_t seen = 0;
    int state = 0;  // 0 looking for a tail, 1 inside a pass
    std::vector<int32_t> lengths;
    bool bOk = playSrv.WaitForPacket(
        [&](const CapturedPacket& p) {
          if (p.nConn != nPlay || p.info.nType != NTYPE_PLAYBACK) return false;
          if (++seen <= from || p.info.nChannel != 0) return false;
          bool bTail = p.info.nDataLen == static_cast<int32_t>(cycle.nTail);
          if (state == 1) lengths.push_back(p.info.nDataLen);
          if (bTail) ++state;
          return state == 2;
        },
        kWaitMs);
    ASSERT_TRUE(bOk) << "no whole pass of " << cycle.nFull << " blocks and a tail of " << cycle.nTail;
    std::vector<int32_t> expected(cycle.nFull, PLAYBACK_BLOCK);
    expected.push_back(static_cast<int32_t>(cycle.nTail));
    EXPECT_EQ(lengths, expected);
  }

  // Every live packet carries exactly one whole chunk of one of the files.
  void ExpectWholeChunks(const std::vector<std::vector<Bytes>*>& files) const {
    for (const CapturedPacket& p : rig.PacketsOf(nLive, NTYPE_LIVE)) {
      ASSERT_FALSE(p.bBytesDropped);
      ASSERT_GE(p.bytes.size(), 12u + 28u);
      uint32_t index = ChunkIndexOf(p);
      bool bFound = false;
      for (const std::vector<Bytes>* chunks : files) {
        for (const Bytes& c : *chunks) {
          if (IndexOfChunk(c) == index) {
            bFound = p.bytes.size() == c.size() + 12 && std::equal(c.begin(), c.end(), p.bytes.begin() + 12);
          }
        }
      }
      EXPECT_TRUE(bFound) << "chunk " << index << " torn or unknown, " << p.bytes.size() << " bytes";
    }
  }
  static uint32_t IndexOfChunk(const Bytes& c) {
    return static_cast<uint32_t>(c[24] | c[25] << 8 | c[26] << 16 | static_cast<uint32_t>(c[27]) << 24);
  }

  // Indices of the last n live packets.
  std::vector<uint32_t> LastLiveIndices(size_t n) const {
    std::vector<CapturedPacket> live = rig.PacketsOf(nLive, NTYPE_LIVE);
    std::vector<uint32_t> out;
    for (size_t k = live.size() > n ? live.size() - n : 0; k < live.size(); ++k) {
      EXPECT_FALSE(live[k].bBytesDropped);
      if (!live[k].bBytesDropped) out.push_back(ChunkIndexOf(live[k]));
    }
    return out;
  }

  // Stops both streams the way the server does; both senders end and give
  // their slots back.
  void StopBoth() {
    rig.Control("CONTROLSTREAM", "live", "CMD", 0, "SSRC", 0);
    rig.Control("CONTROLREMOTEPLAYBACK", "play", "PALYBACKCMD", 0);
    EXPECT_TRUE(rig.WaitAllFree(kWaitMs));
    EXPECT_TRUE(capture.WaitFor("dev - real thread exit.", kWaitMs));
    EXPECT_TRUE(capture.WaitFor("dev - play video thread exit.", kWaitMs));
    EXPECT_TRUE(rig.srv.WaitForClosed(nLive, kWaitMs));
    EXPECT_TRUE(playSrv.WaitForClosed(nPlay, kWaitMs));
  }
};

TEST_F(FrameFileFaultTest, ChangedInPlaceRunningStreamsKeepTheirCopyNewOnesReadTheChange) {
  // Ten whole chunks and half of the eleventh remain.
  size_t cut = 0;
  for (int i = 0; i < 10; ++i) cut += oldChunks[i].size();
  cut += oldChunks[10].size() / 2;
  int64_t before = rig.CountOf(nLive, NTYPE_LIVE);
  ASSERT_EQ(truncate(Path().c_str(), static_cast<off_t>(cut)), 0);

  // The running senders play the bytes they took when they started.
  ASSERT_TRUE(rig.WaitCount(nLive, NTYPE_LIVE, before + 30, 20000));
  std::vector<uint32_t> last = LastLiveIndices(30);
  EXPECT_TRUE(std::any_of(last.begin(), last.end(), [](uint32_t i) { return i >= 10; }));
  ExpectPlaybackCycle(ResumePlayback(), CycleOf(oldFile.size()));
  PausePlayback();

  // A stream started now reads what is left: chunks 0-9, never the cut one.
  int32_t cutStream = rig.OpenStream("REQUESTALIVEVIDEO", "cut", 1);
  ASSERT_GT(cutStream, 0);
  ASSERT_TRUE(rig.WaitCount(cutStream, NTYPE_LIVE, 15, 20000));
  for (const CapturedPacket& p : rig.PacketsOf(cutStream, NTYPE_LIVE)) EXPECT_LT(ChunkIndexOf(p), 10u);

  // Rewritten in place with other content: the next stream plays that.
  std::vector<Bytes> newChunks = MakeChunks(2000, 30);
  ASSERT_TRUE(rig.dir.Write("frames.bin", Text(Join(newChunks))));
  int32_t newStream = rig.OpenStream("REQUESTALIVEVIDEO", "new", 1);
  ASSERT_GT(newStream, 0);
  ASSERT_TRUE(rig.WaitCount(newStream, NTYPE_LIVE, 3, kWaitMs));
  for (const CapturedPacket& p : rig.PacketsOf(newStream, NTYPE_LIVE)) EXPECT_GE(ChunkIndexOf(p), 2000u);
  ExpectWholeChunks({&oldChunks});

  rig.Control("CONTROLSTREAM", "cut", "CMD", 0, "SSRC", 0);
  rig.Control("CONTROLSTREAM", "new", "CMD", 0, "SSRC", 0);
  StopBoth();
}

TEST_F(FrameFileFaultTest, ReplacedByARenameRunningStreamsKeepTheOldFileNewOnesGetTheNewOne) {
  std::vector<Bytes> newChunks = MakeChunks(3000, 20);
  Bytes newFile = Join(newChunks);
  ASSERT_NE(newFile.size() % PLAYBACK_BLOCK, oldFile.size() % PLAYBACK_BLOCK);
  ASSERT_TRUE(rig.dir.Write("frames.new", Text(newFile)));
  ASSERT_EQ(rename(rig.dir.File("frames.new").c_str(), Path().c_str()), 0);

  // The running senders hold the file they opened: the old content goes on.
  int64_t before = rig.CountOf(nLive, NTYPE_LIVE);
  ASSERT_TRUE(rig.WaitCount(nLive, NTYPE_LIVE, before + 30, 20000));
  for (uint32_t index : LastLiveIndices(30)) EXPECT_LT(index, 25u);
  ExpectPlaybackCycle(ResumePlayback(), CycleOf(oldFile.size()));
  PausePlayback();

  // A stream started now opens the new file.
  int32_t fresh = rig.OpenStream("REQUESTALIVEVIDEO", "fresh", 1);
  ASSERT_GT(fresh, 0);
  ASSERT_TRUE(rig.WaitCount(fresh, NTYPE_LIVE, 3, kWaitMs));
  for (const CapturedPacket& p : rig.PacketsOf(fresh, NTYPE_LIVE)) EXPECT_GE(ChunkIndexOf(p), 3000u);
  ExpectWholeChunks({&oldChunks});
  rig.Control("CONTROLSTREAM", "fresh", "CMD", 0, "SSRC", 0);
  StopBoth();
  EXPECT_EQ(capture.Count("dev - real thread exit."), 2);
}

}  // namespace
