#include <algorithm>
#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "app/fleet.h"
#include "app/list_file.h"
#include "app/preflight.h"
#include "app/settings_file.h"
#include "net/close_countdown.h"
#include "net/json_read.h"
#include "net/resolve.h"
#include "platform/debug_log.h"

namespace {

// The ID of position i (0-based) of a batch of the requested count. The base
// is cut (at a UTF-8 character boundary) so that the ID fits szId.
std::string BatchId(const std::string& baseId, int32_t count, int32_t i) {
  if (count == 1) return CutIdText(baseId, FLEET_ID_MAX);
  std::string base = CutIdText(baseId, FLEET_BASE_ID_MAX);
  char suffix[16];
  snprintf(suffix, sizeof suffix, "-%04d", i + 1);
  return base + suffix;
}

// The IDs of a shard's batch: numbers first ... first + n - 1, each with at
// least four digits (CAR-5001 ... CAR-10000), the base cut so that the
// longest fits.
std::vector<std::string> ShardIds(const std::string& baseId, int64_t first, int32_t n) {
  int32_t digits = std::max<int32_t>(4, static_cast<int32_t>(std::to_string(first + n - 1).size()));
  std::string base = CutIdText(baseId, FLEET_ID_MAX - 1 - static_cast<size_t>(digits));
  std::vector<std::string> ids(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    std::string number = std::to_string(first + i);
    number.insert(0, 4 - std::min<size_t>(number.size(), 4), '0');
    ids[static_cast<size_t>(i)] = (base + "-" + number).c_str();  // as szId holds it: up to a NUL the base may carry
  }
  return ids;
}

}  // namespace

// The position in ids of the first one that a row already has, -1 when none.
// One pass over the rows against a table of the batch, so a large fleet costs
// one lookup per row. Under the command lock.
int32_t CFleet::FirstTakenId(const std::vector<std::string>& ids) const {
  std::unordered_map<std::string_view, int32_t> batch;
  batch.reserve(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) batch.emplace(ids[i], static_cast<int32_t>(i));
  int32_t first = -1;
  std::lock_guard<std::mutex> lock(rowsLock);
  for (const FleetRow& row : rows) {
    auto hit = batch.find(row.label);
    if (hit != batch.end() && (first < 0 || hit->second < first)) first = hit->second;
  }
  return first;
}

int32_t CFleet::AddDevices(const std::string& baseId, int32_t count, std::string* pDuplicate) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  if (bStopDriver.load() || count <= 0) return 0;
  int32_t n = std::min(count, nShardIndex >= 0 ? FLEET_MAX_SHARD_BATCH : FLEET_MAX_BATCH);
  std::vector<std::string> ids(static_cast<size_t>(n));
  if (nShardIndex >= 0) {
    ids = ShardIds(baseId, static_cast<int64_t>(nShardIndex) * n + 1, n);
  } else {
    // As szId will hold them: up to a NUL byte the base may carry.
    for (int32_t i = 0; i < n; ++i) ids[static_cast<size_t>(i)] = BatchId(baseId, count, i).c_str();
  }
  int32_t taken = FirstTakenId(ids);
  if (taken >= 0) {
    if (pDuplicate) *pDuplicate = ids[static_cast<size_t>(taken)];
    return FLEET_ADD_DUPLICATE;
  }
  std::string vf = SettingsVf(settings);
  std::vector<FleetRow> fresh(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    std::unique_ptr<CDevQ5> dev = MakeDevice();
    dev->SetId(ids[static_cast<size_t>(i)].c_str());
    dev->SetFramePath(vf.c_str());
    FleetRow& row = fresh[static_cast<size_t>(i)];
    row.label = dev->Id();
    row.pDevice = std::move(dev);
  }
  AppendRows(fresh);
  return n;
}

int32_t CFleet::DeleteDevices(const std::vector<int32_t>& selection) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  std::vector<int32_t> clean = CleanSelection(selection);
  if (clean.empty()) return 0;
  std::vector<FleetRow> doomed;
  doomed.reserve(clean.size());
  {
    // One compaction pass keeps the other rows in order; the removed ones
    // leave the driver's reach before any of them is shut down.
    std::lock_guard<std::mutex> lock(rowsLock);
    std::vector<FleetRow> kept;
    kept.reserve(rows.size() - clean.size());
    size_t next = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (next < clean.size() && static_cast<size_t>(clean[next]) == i) {
        doomed.push_back(std::move(rows[i]));
        ++next;
      } else {
        kept.push_back(std::move(rows[i]));
      }
    }
    rows.swap(kept);
  }
  DestroyDevices(doomed);
  return static_cast<int32_t>(clean.size());
}

bool CFleet::GoOnline(const std::vector<int32_t>& selection, std::string* pWhy, double perSecond) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  std::string address;
  int32_t port = 0;
  std::string why = "the register server " + SettingsReg(settings) + " has no ':' before its port";
  uint32_t ip = 0;
  bool bSplit = SplitRegAddress(SettingsReg(settings), address, port);
  if (!bSplit || !ResolveServerHost(address, &ip, &why)) {
    OutputDebugLine("dev - register address error.");
    if (bSplit) DebugPrintf("dev - register server %s refused: %s", address.c_str(), why.c_str());
    if (pWhy) *pWhy = why;
    return false;
  }
  std::vector<CDevQ5*> targets = Targets(selection);
  // A fleet that cannot fit is refused before any connect, with the figures,
  // instead of meeting thousands of failed connects.
  OnlinePlan plan{OnlineAfter(targets), std::max<int32_t>(1, static_cast<int32_t>(sourceAddrs.size()))};
  if (!PreflightOnline(plan, RaiseAndReadLimits(), &why)) {
    if (pWhy) *pWhy = why;
    return false;
  }
  for (CDevQ5* dev : targets) {
    dev->SetServer(address.c_str(), port, ip);
    if (!sourceAddrs.empty()) dev->Session().SetLocalAddr(sourceAddrs[nNextSource++ % sourceAddrs.size()]);
  }
  if (perSecond > 0) {
    ramp.Add(targets, perSecond);
    return true;
  }
  ramp.Forget(targets);
  for (CDevQ5* dev : targets) dev->ConnectReg();
  return true;
}

// One pass: every target's connection is closed without a wait, so that the
// share threads let them all go together, and the command then waits once
// until the last one is gone.
void CFleet::TakeOffline(const std::vector<int32_t>& selection) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  std::vector<CDevQ5*> targets = Targets(selection);
  ramp.Forget(targets);
  CCloseCountdown closes;
  {
    // No Tick runs meanwhile: none can be half way through an upload on a
    // connection that is being let go.
    std::lock_guard<std::mutex> tick(tickLock);
    for (CDevQ5* dev : targets) dev->GoOffline(closes.Completion());
  }
  closes.Wait();
}

int32_t CFleet::SendEmergencyAlarm(const std::vector<int32_t>& selection) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  CDevQ5* dev = FirstSelected(selection);
  if (!dev) return FLEET_NO_SELECTION;
  return dev->UploadEmergencyAlarm() == 0 ? FLEET_SENT : FLEET_SEND_FAILED;
}

int32_t CFleet::UploadCommand(const std::vector<int32_t>& selection, const std::string& text) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  CDevQ5* dev = FirstSelected(selection);
  if (!dev) return FLEET_NO_SELECTION;
  // Neither the parse nor the send is checked by the operator's dialog: a
  // text that does not parse goes out as far as the reader got.
  Json::Value value;
  JsonParse(text.data(), text.data() + text.size(), value, true);
  return dev->SendSignalPacket(value, 1000, 1) ? FLEET_SENT : FLEET_SEND_FAILED;
}

DeviceProperties CFleet::DialogProperties(const std::vector<int32_t>& selection) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  CDevQ5* dev = FirstSelected(selection);
  return dev ? dev->GetProperties() : DeviceProperties::DialogDefaults();
}

void CFleet::ApplyProperties(const std::vector<int32_t>& selection, const DeviceProperties& props) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  if (CDevQ5* first = FirstSelected(selection)) {
    first->SetProperties(props);
    return;
  }
  for (CDevQ5* dev : Targets({})) dev->SetProperties(props);
}

bool CFleet::ApplySettings(const std::string& reg, const std::string& vf) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  bool written = StoreSettings(szExeDir, settings, reg, vf);
  for (CDevQ5* dev : Targets({})) dev->SetFramePath(vf.c_str());
  SetTitle("ZEL - " + SettingsReg(settings));
  return written;
}

std::string CFleet::Reg() {
  std::lock_guard<std::mutex> cmd(cmdLock);
  return SettingsReg(settings);
}

std::string CFleet::Vf() {
  std::lock_guard<std::mutex> cmd(cmdLock);
  return SettingsVf(settings);
}

// Devices wanted online once targets are: those already wanted or waiting in
// a ramp, and the targets. Under the command lock.
int64_t CFleet::OnlineAfter(const std::vector<CDevQ5*>& targets) const {
  std::unordered_set<const CDevQ5*> chosen(targets.begin(), targets.end());
  int64_t n = static_cast<int64_t>(targets.size()) + ramp.PendingBesides(chosen);
  std::lock_guard<std::mutex> lock(rowsLock);
  for (const FleetRow& row : rows)
    if (row.pDevice->WantsOnline() && !chosen.count(row.pDevice.get())) ++n;
  return n;
}

void CFleet::SetShard(int32_t index) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  nShardIndex = index;
}

void CFleet::SetSourceAddresses(const std::vector<uint32_t>& addrs) {
  std::lock_guard<std::mutex> cmd(cmdLock);
  sourceAddrs = addrs;
  nNextSource = 0;
}
