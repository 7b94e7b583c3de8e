#include <cstdio>

#include "app/file_io.h"
#include "app/file_paths.h"
#include "app/fleet.h"
#include "app/gps_file.h"
#include "app/json_file.h"
#include "app/list_file.h"
#include "app/settings_file.h"
#include "device/gps_track.h"

void CFleet::LoadSettingsNoting() {
  std::string why;
  std::vector<std::string> defaulted;
  int read = LoadSettings(szExeDir, settings, &why, &defaulted);
  bool bKept = false;
  if (read != JSON_FILE_READ_OK && read != JSON_FILE_READ_NONE) {
    loadNotices.push_back(SetDamagedFileAside(DevsetPath(szExeDir), why,
                                              "the settings are what could be read, defaults for the rest", &bKept));
  }
  NoteSettingsDefaults(DevsetPath(szExeDir), read == JSON_FILE_READ_NONE, defaulted, loadNotices);
}

void CFleet::LoadGpsNoting() {
  // The track is complete before the driver starts and only read afterwards.
  GlobalGpsTrack().Clear();
  int read = FILE_READ_OK;
  std::string why;
  int32_t points = LoadGpsFile(szExeDir, GlobalGpsTrack(), &read, &why);
  NoteGpsFallback(GpsPath(szExeDir), read, why, points, loadNotices);
}

void CFleet::LoadListNoting(std::vector<ListEntry>& entries) {
  std::string why;
  if (ReadListFile(szExeDir, entries, &why) != LIST_FILE_DAMAGED) return;
  loadNotices.push_back(SetDamagedFileAside(ListPath(szExeDir), why, "the fleet starts empty", &bListKeptInPlace));
}

std::vector<FileNotice> CFleet::LoadNotices() {
  std::lock_guard<std::mutex> cmd(cmdLock);
  return loadNotices;
}

int32_t CFleet::LoadAll() {
  std::lock_guard<std::mutex> cmd(cmdLock);
  if (bLoaded.exchange(1) || bStopDriver.load()) return -1;
  LoadSettingsNoting();
  LoadGpsNoting();
  SetTitle("ZEL - " + SettingsReg(settings));

  std::vector<ListEntry> entries;
  LoadListNoting(entries);
  std::string vf = SettingsVf(settings);
  std::vector<FleetRow> fresh(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    std::unique_ptr<CDevQ5> dev = MakeDevice();
    dev->SetId(entries[i].id.c_str());
    dev->SetFramePath(vf.c_str());
    dev->SetProperties(entries[i].props);
    fresh[i].label = dev->Id();
    fresh[i].pDevice = std::move(dev);
  }
  AppendRows(fresh);

  // The texts and the driver start also without list.txt, so that devices
  // of a first run are ticked (kept alive, reconnected) like any others.
  char total[32];
  snprintf(total, sizeof total, "合计: %d", static_cast<int>(entries.size()));
  SetStatusPane(0, total);
  SetStatusPane(1, "gps: 0 alarm: 0");
  SetStatusPane(2, "");
  bDriverStarted = CPubCall::StartThread(&CFleet::DriverThread, this, &driverThread) == 0;
  return static_cast<int32_t>(entries.size());
}

bool CFleet::SaveAndRelease() {
  std::unique_lock<std::mutex> cmd(cmdLock);
  // A second close must not overwrite list.txt with an empty fleet; it
  // reports what the first one did.
  if (bReleased) return bSaved;
  bReleased = true;
  ramp.Stop(cmd);
  // The driver is gone before any device is: no Tick can run on a device
  // that is being shut down or destroyed.
  StopDriver();
  std::vector<FleetRow> doomed;
  {
    std::lock_guard<std::mutex> lock(rowsLock);
    doomed.swap(rows);
  }
  for (FleetRow& row : doomed) row.pDevice->PrepareExit();
  std::vector<ListEntry> entries(doomed.size());
  for (size_t i = 0; i < doomed.size(); ++i) {
    CDevQ5& dev = *doomed[i].pDevice;
    entries[i].nDevType = dev.DevType();
    entries[i].id = dev.Id();
    entries[i].props = dev.GetProperties();
  }
  DestroyDevices(doomed);
  // A damaged list.txt that could not be set aside is the user's only copy.
  bSaved = !bListKeptInPlace && WriteListFile(szExeDir, entries);
  return bSaved;
}
