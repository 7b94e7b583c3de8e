#pragma once
#include <cstdint>

#include "net/packet.h"

class CMySocket;

// The sender threads of the media streams. Each takes its StreamSlot, is
// started (detached) by the server's CREATESTREAM answer, sends on the slot's
// mediaSocket, and at its end closes mediaSocket and then clears bInUse; after
// that it touches neither the slot nor the device. Always returns 0.
int RealThread(void* slot);           // live view: the frame file, paced, per channel
int DownloadVideoThread(void* slot);  // download: DOWNLOAD_FILE_SIZE bytes of filler
int PlayVideoThread(void* slot);      // remote playback: raw blocks of the frame file
int TalkThread(void* slot);           // talk: silence every 200 ms

constexpr uint32_t MEDIA_SEND_TIMEOUT_MS = 1000;
constexpr int32_t MEDIA_MAX_FAILURES = 10;  // one more consecutive failure ends a download or playback
constexpr uint32_t MEDIA_FAILURE_PAUSE_MS = 100;

constexpr int32_t LIVE_PACKET_BUF = 1000000;
constexpr int32_t LIVE_MAX_CHUNK = LIVE_PACKET_BUF - PACKET_HEAD_LEN;  // 999,988: bigger chunks are skipped

constexpr int32_t DOWNLOAD_BLOCK = 8000;
constexpr int32_t PLAYBACK_BLOCK = 8000;
constexpr int32_t TALK_PAYLOAD = 80;
#include "net/media_timing.h"
