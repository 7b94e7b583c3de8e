#pragma once
// Helpers shared by the device tests: a device logged in to a test server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/dev_q5.h"
#include "platform/tick.h"
#include "tests/support/packet_builder.h"
#include "tests/support/wait.h"
#include "tools/server/test_server.h"

// Starts a device with the given ID against srv and waits for its login.
inline std::unique_ptr<CDevQ5> LoggedInDevice(CTestServer& srv, const char* id) {
  auto dev = std::make_unique<CDevQ5>();
  dev->SetId(id);
  dev->SetServer("127.0.0.1", srv.Port());
  dev->ConnectReg();
  EXPECT_TRUE(WaitUntil([&] { return dev->IsOnline(); }, 5000));
  return dev;
}

// Type-0 messages of one operation received on the device's connection.
inline std::vector<CapturedPacket> MessagesOf(const CTestServer& srv, const char* dsno, const std::string& op) {
  std::vector<CapturedPacket> out;
  int32_t conn = srv.FindDeviceConnection(dsno);
  for (auto& p : srv.Packets(conn)) {
    if (p.info.nType == 0 && p.Operation() == op) out.push_back(p);
  }
  return out;
}

// Changes some of the device's seven behaviour values, as the PROPERTY
// dialog does: edit gets the values now and the device takes them whole.
template <class Edit>
void EditProperties(CDevQ5& dev, Edit edit) {
  DeviceProperties p = dev.GetProperties();
  edit(p);
  dev.SetProperties(p);
}

// Lets time pass for the device's periods without waiting.
inline void PassTime(uint32_t ms) { AdvanceTickCount(ms); }
