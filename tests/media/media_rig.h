#pragma once
// A device logged in to a test Register Server, with helpers to ask it for
// media streams and to read what its media connections carried.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/dev_q5.h"
#include "media/stream_set.h"
#include "net/json_writer.h"
#include "tests/device/device_test_util.h"
#include "tests/support/frame_bytes.h"
#include "tests/support/packet_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"
#include "tools/server/test_server.h"

// An H264 video chunk whose payload starts with its index (4 bytes,
// little-endian), so that packets can be matched to chunks.
inline Bytes IndexedChunk(uint32_t index, bool key, uint64_t timeUs, size_t payloadLen) {
  Bytes b = H264Head('0', key, timeUs, static_cast<uint32_t>(payloadLen), 0);
  for (size_t i = 0; i < payloadLen; ++i) {
    b.push_back(i < 4 ? static_cast<uint8_t>(index >> (8 * i)) : static_cast<uint8_t>(i * 13 + index));
  }
  return b;
}

// Index of the chunk carried by a live packet built from IndexedChunk.
inline uint32_t ChunkIndexOf(const CapturedPacket& p) {
  const uint8_t* q = p.bytes.data() + 12 + 24;
  return static_cast<uint32_t>(q[0] | q[1] << 8 | q[2] << 16 | static_cast<uint32_t>(q[3]) << 24);
}

class CMediaRig {
 public:
  CTempDir dir;
  CTestServer srv;
  std::unique_ptr<CDevQ5> dev;
  int32_t nSigConn = -1;

  CMediaRig() { InstallMediaStreams(); }
  ~CMediaRig() { Stop(); }

  // The device's media stream slots.
  CStreamSet& Set() const { return MediaStreamsOf(*dev); }

  // Starts the server and a logged-in device.
  void Start(const char* id = "MEDIA01") {
    srv.SetAcceptAnyStream(true);  // the tests name their streams themselves
    ASSERT_TRUE(srv.Start());
    dev = LoggedInDevice(srv, id);
    nSigConn = srv.WaitForDevice(id, 5000);
    ASSERT_GT(nSigConn, 0);
  }
  // Deletes the device as the fleet does (Shutdown, then destruction), then stops the server.
  void Stop() {
    if (dev) {
      dev->Shutdown();
      dev.reset();
    }
    srv.Stop();
  }

  std::string MediaAddr() const { return "127.0.0.1:" + std::to_string(srv.Port()); }

  // Writes the frame file and points the device at it.
  void UseFrames(const Bytes& bytes) {
    ASSERT_TRUE(dir.Write("frames.bin", std::string(bytes.begin(), bytes.end())));
    dev->SetFramePath(dir.File("frames.bin").c_str());
  }

  static Json::Value Request(const char* op, const std::string& name, const Json::Value& ipAndPort, int channel = 1) {
    Json::Value req;
    req["MODULE"] = "MEDIASTREAMMODEL";
    req["OPERATION"] = op;
    req["SESSION"] = "x";
    Json::Value& par = req["PARAMETER"];
    par["STREAMNAME"] = name;
    if (!ipAndPort.isNull()) par["IPANDPORT"] = ipAndPort;
    par["CHANNEL"] = channel;
    par["SERIAL"] = 1;
    return req;
  }
  bool Send(const Json::Value& msg) { return srv.SendJson(nSigConn, msg); }
  // Sends a request for a media connection to the server and waits for it.
  int32_t OpenStream(const char* op, const std::string& name, int channel = 1) {
    Send(Request(op, name, MediaAddr(), channel));
    return srv.WaitForStream(name, 8000);
  }
  void Control(const char* op, const std::string& name, const char* key, int value, const char* key2 = nullptr,
               int value2 = 0) {
    Json::Value msg;
    msg["MODULE"] = "MEDIASTREAMMODEL";
    msg["OPERATION"] = op;
    msg["PARAMETER"]["STREAMNAME"] = name;
    msg["PARAMETER"][key] = value;
    if (key2) msg["PARAMETER"][key2] = value2;
    Send(msg);
  }

  // Texts of the device's replies of one operation on the signalling connection.
  std::vector<std::string> Replies(const std::string& op) const {
    std::vector<std::string> out;
    for (const CapturedPacket& p : srv.Packets(nSigConn)) {
      if (p.info.nType == 0 && p.Operation() == op) out.push_back(p.szText);
    }
    return out;
  }
  // Packets of one type received on conn so far (cheap: no bytes copied).
  int64_t CountOf(int32_t conn, int32_t type) const {
    ConnInfo info;
    if (!srv.Connection(conn, &info)) return 0;
    auto it = info.packetsByType.find(type);
    return it == info.packetsByType.end() ? 0 : it->second;
  }
  bool WaitCount(int32_t conn, int32_t type, int64_t n, int timeoutMs) const {
    return WaitUntil([&] { return CountOf(conn, type) >= n; }, timeoutMs);
  }
  std::vector<CapturedPacket> PacketsOf(int32_t conn, int32_t type) const {
    std::vector<CapturedPacket> out;
    for (CapturedPacket& p : srv.Packets(conn)) {
      if (p.info.nType == type) out.push_back(std::move(p));
    }
    return out;
  }
  int InUse() const {
    int n = 0;
    for (const StreamSlot& s : Set().slots) n += s.bInUse.load() ? 1 : 0;
    return n;
  }
  bool WaitAllFree(int timeoutMs) const {
    return WaitUntil([&] { return InUse() == 0; }, timeoutMs);
  }
};
