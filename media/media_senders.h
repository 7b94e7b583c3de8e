#pragma once
#include <cstdint>

#include "net/media_timing.h"  // TALK_PAYLOAD, TALK_PERIOD_MS
#include "net/packet.h"

struct StreamSlot;
class CLoopSender;

// The senders of the media streams (see loop_sender.h), made on the loop
// thread of the slot's media connection when the server answers its
// CREATESTREAM. Each sends on the slot's mediaSocket and, at its end, closes
// it and frees the slot; after that it touches neither the slot nor the
// device. Null when it cannot be made.
CLoopSender* MakeLiveSender(StreamSlot& slot);      // live view: the frame file, paced, per channel
CLoopSender* MakeDownloadSender(StreamSlot& slot);  // download: DOWNLOAD_FILE_SIZE bytes of filler
CLoopSender* MakePlaybackSender(StreamSlot& slot);  // remote playback: raw blocks of the frame file
CLoopSender* MakeTalkSender(StreamSlot& slot);      // talk: silence every 200 ms

constexpr uint32_t MEDIA_SEND_TIMEOUT_MS = 1000;
constexpr int32_t MEDIA_MAX_FAILURES = 10;  // one more consecutive failure ends a download or playback
constexpr uint32_t MEDIA_FAILURE_PAUSE_MS = 100;

constexpr int32_t LIVE_PACKET_BUF = 1000000;
constexpr int32_t LIVE_MAX_CHUNK = LIVE_PACKET_BUF - PACKET_HEAD_LEN;  // 999,988: bigger chunks are skipped

constexpr int32_t DOWNLOAD_BLOCK = 8000;
constexpr int32_t PLAYBACK_BLOCK = 8000;
