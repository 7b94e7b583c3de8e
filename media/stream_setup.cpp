#include "device/dev_q5.h"

// Media request handling is not built yet: requests are ignored (no reply).
int CDevQ5::OnRequestTalk(const Json::Value&) { return 1; }
int CDevQ5::OnRequestAliveVideo(const Json::Value&) { return 1; }
int CDevQ5::OnRequestDownloadVideo(const Json::Value&) { return 1; }
int CDevQ5::OnRequestRemotePlayback(const Json::Value&) { return 1; }
int CDevQ5::MediaCallback(void*, uint8_t*, int32_t, uint32_t, int32_t, int32_t) { return 0; }
void CDevQ5::OnMediaData(StreamSlot*, const uint8_t*, int32_t) {}
void CDevQ5::ReapSlots() {}
void CDevQ5::StopStreams() {}
