// Deleting a device while its streams run or are still being set up: every
// sender, share-thread callback and handler must be done with the device and
// its slots before it is destroyed (run under the address and thread
// sanitizers), and deletion must not hang on a stalled connection.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/media/media_rig.h"
#include "tests/support/debug_capture.h"
#include "tests/support/plain_client.h"

namespace {

int64_t MsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

Bytes PacedFile() {
  Bytes file;
  for (uint32_t i = 0; i < 50; ++i) AppendBytes(file, IndexedChunk(i, i % 25 == 0, (i + 1) * 40000ull, 3000));
  return file;
}

TEST(StreamLifetime, DeletingADeviceWhileAllFourKindsRunEndsEverySenderPromptly) {
  DebugCapture capture;
  CMediaRig rig;
  rig.Start();
  rig.srv.SetRecordLimit(8 << 20);
  rig.UseFrames(PacedFile());
  int32_t live = rig.OpenStream("REQUESTALIVEVIDEO", "live", 15);
  int32_t talk = rig.OpenStream("REQUESTTALK", "talk");
  int32_t play = rig.OpenStream("REQUESTREMOTEPLAYBACK", "play");
  int32_t down = rig.OpenStream("REQUESTDOWNLOADVIDEO", "down");
  ASSERT_GT(live, 0);
  ASSERT_GT(talk, 0);
  ASSERT_GT(play, 0);
  ASSERT_GT(down, 0);
  // The download's peer stops reading: its sends wait for room.
  rig.srv.SetReading(down, false);
  for (const char* line : {"dev - real thread start.", "dev - talk thread start.", "dev - play video thread start.",
                           "dev - download video thread start."}) {
    ASSERT_TRUE(capture.WaitFor(line, 5000)) << line;
  }
  ASSERT_TRUE(rig.WaitCount(live, NTYPE_LIVE, 8, 5000));
  ASSERT_TRUE(rig.WaitCount(talk, NTYPE_TALK, 2, 5000));
  ASSERT_TRUE(rig.WaitCount(play, NTYPE_PLAYBACK, 8, 5000));
  ASSERT_EQ(rig.InUse(), 4);

  auto t0 = std::chrono::steady_clock::now();
  rig.dev->Shutdown();
  rig.dev.reset();
  EXPECT_LT(MsSince(t0), 5000);
  for (const char* line : {"dev - real thread exit.", "dev - talk thread exit.", "dev - play video thread exit.",
                           "dev - download video thread exit."}) {
    EXPECT_EQ(capture.Count(line), 1) << line;
  }
  for (int32_t conn : {live, talk, play, down}) EXPECT_TRUE(rig.srv.WaitForClosed(conn, 5000));
}

TEST(StreamLifetime, DeletingADeviceWithStreamsStillBeingSetUpReturnsPromptly) {
  DebugCapture capture;
  CMediaRig rig;
  rig.Start();
  rig.srv.SetAnswerCreateStream(false);
  std::string dead = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
  rig.Send(CMediaRig::Request("REQUESTALIVEVIDEO", "never", dead));               // never connects
  rig.Send(CMediaRig::Request("REQUESTTALK", "unanswered", rig.MediaAddr()));     // no CREATESTREAM answer
  ASSERT_GT(rig.srv.WaitForStream("unanswered", 5000), 0);
  rig.Send(CMediaRig::Request("REQUESTDOWNLOADVIDEO", "waiting", rig.MediaAddr()));  // in its 1 s wait
  ASSERT_TRUE(rig.srv.WaitForOperation(rig.nSigConn, "REQUESTDOWNLOADVIDEO", 1, 5000));
  auto t0 = std::chrono::steady_clock::now();
  rig.dev->Shutdown();
  for (const StreamSlot& s : rig.Set().slots) EXPECT_EQ(s.bInUse.load(), 0) << s.szStreamName;
  rig.dev.reset();
  EXPECT_LT(MsSince(t0), 5000);
  for (const char* line : {"dev - real thread start.", "dev - talk thread start.", "dev - download video thread start."}) {
    EXPECT_EQ(capture.Count(line), 0) << line;
  }
}

// A quitting fleet first marks every device as stopping (PrepareExit), then
// deletes them one by one. A live sender that never pauses (here: chunks of
// one time stamp, played flat out; under load: any sender catching up) must
// end on the mark alone, not wait for its device's turn.
TEST(StreamLifetime, AStoppingDeviceEndsALiveStreamThatNeverPauses) {
  DebugCapture capture;
  CMediaRig rig;
  rig.Start();
  Bytes file;
  for (uint32_t i = 0; i < 50; ++i) AppendBytes(file, IndexedChunk(i, i % 25 == 0, 40000ull, 3000));
  rig.UseFrames(file);
  int32_t live = rig.OpenStream("REQUESTALIVEVIDEO", "flat", 1);
  ASSERT_GT(live, 0);
  ASSERT_TRUE(rig.WaitCount(live, NTYPE_LIVE, 200, 5000));
  rig.dev->PrepareExit();
  EXPECT_TRUE(capture.WaitFor("dev - real thread exit.", 5000));
  EXPECT_TRUE(rig.srv.WaitForClosed(live, 5000));
}

// Many devices, each with a live and a talk stream, deleted one after the
// other while a server keeps answering.
TEST(StreamLifetime, DeletingManyStreamingDevicesOneAfterTheOther) {
  DebugCapture capture;
  CMediaRig rig;
  rig.Start();
  rig.UseFrames(PacedFile());
  std::vector<std::unique_ptr<CDevQ5>> devices;
  for (int d = 0; d < 4; ++d) {
    std::string id = "LT" + std::to_string(d);
    devices.push_back(LoggedInDevice(rig.srv, id.c_str()));
    devices.back()->SetFramePath(rig.dir.File("frames.bin").c_str());
    int32_t sig = rig.srv.WaitForDevice(id, 5000);
    ASSERT_GT(sig, 0);
    rig.srv.SendJson(sig, CMediaRig::Request("REQUESTALIVEVIDEO", id + "L", rig.MediaAddr(), 3));
    rig.srv.SendJson(sig, CMediaRig::Request("REQUESTTALK", id + "T", rig.MediaAddr()));
  }
  ASSERT_TRUE(WaitUntil([&] { return capture.Count("dev - talk thread start.") == 4; }, 8000));
  ASSERT_TRUE(WaitUntil([&] { return capture.Count("dev - real thread start.") == 4; }, 8000));
  for (auto& dev : devices) {
    dev->Shutdown();
    dev.reset();
  }
  EXPECT_EQ(capture.Count("dev - talk thread exit."), 4);
  EXPECT_EQ(capture.Count("dev - real thread exit."), 4);
}

}  // namespace
