#include <chrono>
#include <cstdint>

#include "app/fleet.h"
#include "net/share_table.h"
#include "platform/debug_log.h"

namespace {
// The close waits for the driver without a practical limit: the driver ends
// within one Tick of bStopDriver, and devices may not go while it runs.
constexpr uint32_t kDriverJoinMs = 0xFFFFFFFFu;
// Rows after which the uploads queued so far are handed to the share threads,
// so that none waits for the end of a long pass.
constexpr size_t kArmSliceRows = 1024;
}  // namespace

int CFleet::DriverThread(void* fleet) {
  static_cast<CFleet*>(fleet)->RunDriver();
  return 0;
}

// Passes start one pause apart, measured start to start, so the time a pass
// takes does not stretch the devices' periods. A pass that overran starts
// the next one at once; missed passes are never made up in a burst.
void CFleet::RunDriver() {
  auto nextStart = std::chrono::steady_clock::now();
  while (!bStopDriver.load()) {
    auto start = std::chrono::steady_clock::now();
    DriverPass();
    auto end = std::chrono::steady_clock::now();
    uint32_t passMs = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count());
    nLastPassMs.store(passMs);
    if (passMs > nMaxPassMs.load()) nMaxPassMs.store(passMs);  // the driver alone writes it
    nPasses.fetch_add(1);
    nextStart += std::chrono::milliseconds(nPassPauseMs.load());
    if (nextStart < end) nextStart = end;
    WaitForNextPass(nextStart);
  }
}

// One pass: the row count is read afresh, then each row's image is taken from
// its device's bOnline just before the device's Tick. The row lock is held
// only to read the row, never during a Tick, so a repaint never waits for the
// driver; the tick lock, held for one Tick at a time, keeps a removed device
// alive until its Tick is over (DestroyDevices waits for it). Rows removed
// meanwhile end the pass early. A stop request ends the pass between rows.
void CFleet::DriverPass() {
  CDebugBatch batch;  // the pass's upload lines leave in a few writes, not one each
  CShareArmBatch arms;  // each share thread is woken once per slice of the pass
  size_t count = static_cast<size_t>(RowCount());
  for (size_t i = 0; i < count; ++i) {
    if (i % kArmSliceRows == kArmSliceRows - 1) CShareArmBatch::Flush();
    int32_t changed = -1;
    {
      std::lock_guard<std::mutex> tick(tickLock);
      CDevQ5* dev = nullptr;
      {
        std::lock_guard<std::mutex> lock(rowsLock);
        if (bStopDriver.load() || i >= rows.size()) return;
        FleetRow& row = rows[i];
        dev = row.pDevice.get();
        int32_t image = dev->IsOnline() ? 1 : 0;
        if (image != row.nImage) {
          row.nImage = image;
          changed = image;
        }
      }
      dev->Tick();
    }
    if (changed >= 0 && pListener) pListener->OnRowImage(static_cast<int32_t>(i), changed);
  }
}

void CFleet::WaitForNextPass(std::chrono::steady_clock::time_point when) {
  std::unique_lock<std::mutex> lock(pauseLock);
  pauseWake.wait_until(lock, when, [this] { return bStopDriver.load() != 0 || bPauseChanged; });
  bPauseChanged = false;
}

void CFleet::SetPassPause(uint32_t ms) {
  std::lock_guard<std::mutex> lock(pauseLock);
  nPassPauseMs.store(ms);
  bPauseChanged = true;  // the pass being waited for starts at once
  pauseWake.notify_all();
}

// Under the command lock. Sets bStopDriver, wakes the pause and waits for the
// driver thread to end.
void CFleet::StopDriver() {
  {
    std::lock_guard<std::mutex> lock(pauseLock);
    bStopDriver.store(1);
  }
  pauseWake.notify_all();
  if (bDriverStarted) {
    CPubCall::StopThread(&driverThread, kDriverJoinMs);
    bDriverStarted = false;
  }
}
