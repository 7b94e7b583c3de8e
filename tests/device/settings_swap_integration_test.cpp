// A device's settings change while other threads read them: every reader
// sees the register server of one change whole (host, port and address that
// belong together), and a name lookup that ends after the operator chose
// another server does not give the new server the old one's address.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/device_settings.h"

namespace {

TEST(SettingsSwapTest, ReadersNeverMixTwoServers) {
  CDeviceSettings settings;
  settings.SetServer("10.0.0.1", 1111, 0x0A000001u);
  std::atomic<int32_t> bDone{0};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) {
      if (i % 2) {
        settings.SetServer("10.0.0.1", 1111, 0x0A000001u);
      } else {
        settings.SetServer("server-two.test", 2222, 0x0A000002u);
      }
      settings.SetFramePath(i % 2 ? "/a" : "/b");
    }
    bDone.store(1);
  });
  int32_t nMixed = 0;
  while (!bDone.load()) {
    std::shared_ptr<const DeviceSettings> s = settings.Snapshot();
    bool bFirst = s->szServerIp == "10.0.0.1";
    if (s->nServerPort != (bFirst ? 1111 : 2222) || s->nServerAddr != (bFirst ? 0x0A000001u : 0x0A000002u)) ++nMixed;
  }
  writer.join();
  EXPECT_EQ(nMixed, 0);
}

TEST(SettingsSwapTest, LookupOfAReplacedServerKeepsTheNewAddress) {
  CDeviceSettings settings;
  settings.SetServer("old-server.test", 7000, 0x0A000009u);
  std::string looked = settings.Snapshot()->szServerIp;
  settings.SetServer("127.0.0.1", 7001, 0x7F000001u);  // while the lookup of looked runs
  EXPECT_FALSE(settings.SetResolvedAddress(looked, 0x0A00000Au));
  EXPECT_EQ(settings.Snapshot()->nServerAddr, 0x7F000001u);
  EXPECT_EQ(settings.Snapshot()->nServerPort, 7001);
  // The lookup of the server still set is taken.
  EXPECT_TRUE(settings.SetResolvedAddress("127.0.0.1", 0x7F000002u));
  EXPECT_EQ(settings.Snapshot()->nServerAddr, 0x7F000002u);
}

}  // namespace
