#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "media/stream_slot.h"
#include "media/media_messages.h"
#include "media/slot_state.h"
#include "net/json_writer.h"

namespace {

uint32_t Phase(const StreamSlot& s) { return s.nClaimState.load() & SLOT_STATE_MASK; }

void Claim(StreamSlot& s) {
  BeginSlotClaim(s);
  s.bInUse.store(1);
}

TEST(SlotClaimState, OneSenderPerClaimAndNoneAfterTheSlotWasTakenBack) {
  StreamSlot s;
  Claim(s);
  EXPECT_EQ(Phase(s), SLOT_STATE_OPENING);
  EXPECT_TRUE(TryStartSlotSender(s));  // an answer may come before the handler finished
  EndSlotOpening(s);
  EXPECT_EQ(Phase(s), SLOT_STATE_SENDING);
  EXPECT_FALSE(TryStartSlotSender(s));  // a repeated CREATESTREAM answer
  EXPECT_FALSE(ReclaimSlot(s, s.nClaimState.load()));
  EXPECT_EQ(s.bInUse.load(), 1);

  Claim(s);
  EndSlotOpening(s);
  EXPECT_TRUE(ReclaimSlot(s, s.nClaimState.load()));
  EXPECT_EQ(s.bInUse.load(), 0);
  EXPECT_FALSE(TryStartSlotSender(s));  // the late answer loses
}

TEST(SlotClaimState, ReclaimNeverTouchesASlotStillOpeningOrANewerClaim) {
  StreamSlot s;
  Claim(s);
  EXPECT_FALSE(ReclaimSlot(s, s.nClaimState.load()));  // handler still opening
  EndSlotOpening(s);
  uint32_t seen = s.nClaimState.load();
  // The stream starts, ends and the slot is claimed again before the stale decision lands.
  ASSERT_TRUE(TryStartSlotSender(s));
  FinishSlot(s);
  Claim(s);
  EndSlotOpening(s);
  EXPECT_FALSE(ReclaimSlot(s, seen));
  EXPECT_EQ(s.bInUse.load(), 1);
  EXPECT_EQ(Phase(s), SLOT_STATE_WAITING);
}

TEST(SlotClaimState, DueWhenAbandonedOrWaitingTooLong) {
  StreamSlot s;
  Claim(s);
  uint32_t t0 = s.dwClaimed.load();
  EXPECT_FALSE(SlotReclaimDue(s, s.nClaimState.load(), t0 + 30000));  // opening
  EndSlotOpening(s);
  uint32_t st = s.nClaimState.load();
  EXPECT_FALSE(SlotReclaimDue(s, st, t0));
  EXPECT_FALSE(SlotReclaimDue(s, st, t0 + SLOT_START_TIMEOUT_MS));
  EXPECT_TRUE(SlotReclaimDue(s, st, t0 + SLOT_START_TIMEOUT_MS + 1));
  s.bAbandoned.store(1);
  EXPECT_TRUE(SlotReclaimDue(s, st, t0));
  ASSERT_TRUE(TryStartSlotSender(s));
  EXPECT_FALSE(SlotReclaimDue(s, s.nClaimState.load(), t0 + 99999));  // a sender owns it
  UndoSlotSender(s);  // thread creation failed
  EXPECT_TRUE(SlotReclaimDue(s, s.nClaimState.load(), t0));
  EXPECT_TRUE(ReclaimSlot(s, s.nClaimState.load()));
}

TEST(SlotClaimState, StoppingAbandonedAndReclaimedStreamsAreNotJoined) {
  StreamSlot s;
  Claim(s);
  EndSlotOpening(s);
  EXPECT_TRUE(SlotJoinable(s));
  s.bStop.store(1);
  EXPECT_FALSE(SlotJoinable(s));
  s.bStop.store(0);
  s.bAbandoned.store(1);
  EXPECT_FALSE(SlotJoinable(s));
  s.bAbandoned.store(0);
  uint32_t st = s.nClaimState.load();
  s.nClaimState.store((st & ~SLOT_STATE_MASK) | SLOT_STATE_RECLAIMED);
  EXPECT_FALSE(SlotJoinable(s));
  s.bInUse.store(0);
}

TEST(MediaMessages, StreamNamesLongerThan39OrNotTextAreRefused) {
  char out[STREAM_NAME_SIZE];
  memset(out, 'Z', sizeof out);
  Json::Value req;
  req["PARAMETER"]["STREAMNAME"] = std::string(39, 'n');
  ASSERT_TRUE(ReadStreamName(req, out));
  EXPECT_EQ(std::string(out), std::string(39, 'n'));
  memset(out, 'Z', sizeof out);
  for (const Json::Value& bad : {Json::Value(std::string(40, 'n')), Json::Value(5), Json::Value(),
                                 Json::Value(std::string("a\0b", 3))}) {
    req["PARAMETER"]["STREAMNAME"] = bad;
    EXPECT_FALSE(ReadStreamName(req, out));
  }
  EXPECT_EQ(out[0], 'Z');  // untouched
  Json::Value notObject("x");
  EXPECT_FALSE(ReadStreamName(notObject, out));
  req["PARAMETER"]["STREAMNAME"] = "";
  EXPECT_TRUE(ReadStreamName(req, out));
}

TEST(MediaMessages, CreateStreamText) {
  EXPECT_EQ(WriteCompactJson(BuildCreateStream("cam\"1")),
            "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"CREATESTREAM\",\"PARAMETER\":{\"STREAMNAME\":\"cam\\\"1\"},"
            "\"SESSION\":\"\"}");
}

}  // namespace
