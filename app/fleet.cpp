#include "app/fleet.h"

#include <algorithm>
#include <cstdio>

#include "media/stream_set.h"
#include "net/traffic_counters.h"

CFleet::CFleet(std::string dir, IFleetListener* listener)
    : szExeDir(std::move(dir)), pListener(listener) {
  InstallMediaStreams();  // the fleet's devices serve media requests
}

CFleet::~CFleet() {
  std::unique_lock<std::mutex> cmd(cmdLock);
  ramp.Stop(cmd);
  StopDriver();
  std::vector<FleetRow> doomed;
  {
    std::lock_guard<std::mutex> lock(rowsLock);
    doomed.swap(rows);
  }
  DestroyDevices(doomed);
}

// Successive devices get phases a golden-ratio step apart, so that however
// many log in together, their uploads spread evenly over every period.
std::unique_ptr<CDevQ5> CFleet::MakeDevice() {
  auto dev = std::make_unique<CDevQ5>();
  dev->SetDevType(0);
  dev->Schedule().SetUploadPhase(nDevicesMade++ * 2654435769u);
  return dev;
}

std::vector<int32_t> CFleet::CleanSelection(const std::vector<int32_t>& selection) const {
  int32_t count = RowCount();
  std::vector<int32_t> clean;
  clean.reserve(selection.size());
  for (int32_t i : selection)
    if (i >= 0 && i < count) clean.push_back(i);
  std::sort(clean.begin(), clean.end());
  clean.erase(std::unique(clean.begin(), clean.end()), clean.end());
  return clean;
}

// Only commands destroy devices and they hold the command lock, so the
// pointers stay valid for the caller's command after the row lock is left.
std::vector<CDevQ5*> CFleet::Targets(const std::vector<int32_t>& selection) const {
  std::vector<int32_t> clean = CleanSelection(selection);
  std::vector<CDevQ5*> devices;
  std::lock_guard<std::mutex> lock(rowsLock);
  if (clean.empty()) {
    devices.reserve(rows.size());
    for (const FleetRow& row : rows) devices.push_back(row.pDevice.get());
  } else {
    for (int32_t i : clean) devices.push_back(rows[static_cast<size_t>(i)].pDevice.get());
  }
  return devices;
}

CDevQ5* CFleet::FirstSelected(const std::vector<int32_t>& selection) const {
  std::vector<int32_t> clean = CleanSelection(selection);
  if (clean.empty()) return nullptr;
  std::lock_guard<std::mutex> lock(rowsLock);
  return rows[static_cast<size_t>(clean.front())].pDevice.get();
}

int32_t CFleet::RowCount() const {
  std::lock_guard<std::mutex> lock(rowsLock);
  return static_cast<int32_t>(rows.size());
}

bool CFleet::RowInfo(int32_t row, FleetRowInfo& info) const {
  std::lock_guard<std::mutex> lock(rowsLock);
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) return false;
  const FleetRow& r = rows[static_cast<size_t>(row)];
  info.label = r.label;
  info.nImage = r.nImage;
  info.bOnline = r.pDevice->IsOnline() ? 1 : 0;
  return true;
}

std::vector<FleetRowInfo> CFleet::Snapshot() const {
  std::lock_guard<std::mutex> lock(rowsLock);
  std::vector<FleetRowInfo> out(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    out[i].label = rows[i].label;
    out[i].nImage = rows[i].nImage;
    out[i].bOnline = rows[i].pDevice->IsOnline() ? 1 : 0;
  }
  return out;
}

int32_t CFleet::RowImage(int32_t row) const {
  std::lock_guard<std::mutex> lock(rowsLock);
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) return -1;
  return rows[static_cast<size_t>(row)].nImage;
}

std::string CFleet::StatusText(int32_t row) const {
  std::lock_guard<std::mutex> lock(rowsLock);
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) return std::string();
  const CDevQ5& dev = *rows[static_cast<size_t>(row)].pDevice;
  const DeviceCounters& counters = dev.Counters();
  int32_t alarms = static_cast<int32_t>(counters.nSosUid.load() - counters.nSosUidBase.load());
  char text[96];
  snprintf(text, sizeof text, "%s, gps: %d alarm: %d", dev.IsOnline() ? "online" : "offline",
           counters.nGpsSent.load(), alarms);
  return text;
}

bool CFleet::WithDevice(int32_t row, const std::function<void(CDevQ5&)>& fn) const {
  std::lock_guard<std::mutex> tick(tickLock);
  std::lock_guard<std::mutex> lock(rowsLock);
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) return false;
  fn(*rows[static_cast<size_t>(row)].pDevice);
  return true;
}

FleetStats CFleet::Stats() const {
  FleetStats st;
  {
    std::lock_guard<std::mutex> lock(rowsLock);
    st.nDevices = static_cast<int32_t>(rows.size());
    for (const FleetRow& row : rows) {
      const CDevQ5& dev = *row.pDevice;
      if (dev.IsOnline())
        ++st.nOnline;
      else if (dev.WantsOnline())
        ++st.nConnecting;
      else
        ++st.nOffline;
      st.nGpsSent += dev.Counters().nGpsSent.load(std::memory_order_relaxed);
      st.nAlarmsSent += dev.Counters().nAlarmsSent.load(std::memory_order_relaxed);
      if (const IStreamSet* streams = dev.Streams()) streams->CountClaimed(st.nStreams);
      AddExpectedRates(dev, nPassPauseMs.load(), &st.expected);
    }
  }
  st.nRampPending = ramp.Pending();
  st.nBytesSent = BytesSent();
  st.nLastPassMs = nLastPassMs.load();
  st.nMaxPassMs = nMaxPassMs.load();
  st.nPasses = nPasses.load();
  return st;
}

std::string CFleet::Title() const {
  std::lock_guard<std::mutex> lock(rowsLock);
  return szTitle;
}

std::string CFleet::StatusPane(int32_t pane) const {
  std::lock_guard<std::mutex> lock(rowsLock);
  if (pane < 0 || pane >= 3) return std::string();
  return szPanes[pane];
}

void CFleet::SetTitle(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(rowsLock);
    szTitle = text;
  }
  if (pListener) pListener->OnTitle(text);
}

void CFleet::SetStatusPane(int32_t pane, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(rowsLock);
    szPanes[pane] = text;
  }
  if (pListener) pListener->OnStatusText(pane, text);
}

void CFleet::AppendRows(std::vector<FleetRow>& fresh) {
  std::lock_guard<std::mutex> lock(rowsLock);
  rows.reserve(rows.size() + fresh.size());
  for (FleetRow& row : fresh) rows.push_back(std::move(row));
  fresh.clear();
}

// Runs without the row lock: the rows are already out of the driver's reach,
// and Shutdown may wait for media senders.
void CFleet::DestroyDevices(std::vector<FleetRow>& doomed) {
  std::vector<CDevQ5*> devs;
  for (FleetRow& row : doomed) devs.push_back(row.pDevice.get());
  ramp.Forget(devs);
  // The rows are gone already; a Tick that began before may still run.
  { std::lock_guard<std::mutex> tick(tickLock); }
  for (FleetRow& row : doomed) {
    row.pDevice->Shutdown();
    row.pDevice.reset();
  }
  doomed.clear();
}
