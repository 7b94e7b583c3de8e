#pragma once
#include <json/value.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/expected_rates.h"
#include "app/file_notices.h"
#include "app/fleet_listener.h"
#include "app/list_file.h"
#include "app/online_ramp.h"
#include "device/dev_q5.h"
#include "device/device_properties.h"
#include "platform/pub_call.h"

constexpr int32_t FLEET_MAX_BATCH = 9999;        // devices one AddDevices creates at most
constexpr int32_t FLEET_MAX_SHARD_BATCH = 100000; // the same for a shard (numbers are not bound to 4 digits)
constexpr size_t FLEET_ID_MAX = 39;              // bytes of an ID (szId holds 40 with the NUL)
constexpr size_t FLEET_BASE_ID_MAX = 34;         // base ID of a numbered batch: 34 + "-" + 4 digits
constexpr uint32_t FLEET_PASS_PAUSE_MS = 2000;   // driver passes start this far apart

// Results of SendEmergencyAlarm and UploadCommand.
constexpr int32_t FLEET_SENT = 0;          // the socket accepted the message
constexpr int32_t FLEET_SEND_FAILED = 1;   // not sent ("发送失败" for the alarm)
constexpr int32_t FLEET_NO_SELECTION = 2;  // nothing selected: nothing done

// Result of AddDevices when an ID of the batch is already in the fleet.
constexpr int32_t FLEET_ADD_DUPLICATE = -1;

// One row of the fleet, in display order.
struct FleetRow {
  std::string label;                // the device's szId, set when the row is made
  int32_t nImage = 0;               // 0 offline, 1 online; refreshed by the driver
  std::unique_ptr<CDevQ5> pDevice;  // owned, never null
};

// What a user interface shows of a row.
struct FleetRowInfo {
  std::string label;
  int32_t nImage = 0;
  int32_t bOnline = 0;  // the device's bOnline now (the image follows it one pass later)
};

// Figures of the whole fleet at one moment.
struct FleetStats {
  int32_t nDevices = 0;
  int32_t nOnline = 0;      // bOnline 1
  int32_t nConnecting = 0;  // bWantOnline 1, bOnline 0
  int32_t nRampPending = 0; // asked online by a ramp, not connected yet (counted offline)
  int32_t nOffline = 0;     // the rest
  int64_t nGpsSent = 0;     // sum of nGpsSent
  int64_t nAlarmsSent = 0;  // sum of nAlarmsSent
  int32_t nStreams[4] = {}; // claimed stream slots by kind (STREAM_LIVE ... STREAM_PLAYBACK)
  uint64_t nBytesSent = 0;  // bytes every socket of the process accepted
  uint32_t nLastPassMs = 0; // length of the driver's last pass
  uint32_t nMaxPassMs = 0;  // length of the driver's longest pass since the fleet was made
  uint32_t nPasses = 0;     // driver passes completed
  ExpectedRates expected;   // messages per second the online devices are due to send
};

// The fleet of simulated devices: ordered rows that own the devices, the
// settings of devset.txt, the driver thread that ticks every device, and the
// operator's commands. Free of any window system.
//
// A selection is a list of row indices, ascending (the fleet sorts it and
// ignores indices out of range and repeats); an empty list means nothing is
// selected. Which rows a command acts on depends on the command.
//
// Threads: commands (AddDevices ... SaveAndRelease) may come from any thread;
// they are serialised among themselves by the command lock, and only commands
// destroy devices. The read operations (RowCount, RowInfo, StatusText, Stats
// ...) take only the row lock and may be called from any thread, the
// listener's callbacks included. The driver thread takes the row lock only to
// read one row and set its image, never during a Tick, so a read never waits
// for a Tick; a device is never destroyed while it is ticked (the tick lock).
class CFleet {
 public:
  // dir: where devset.txt, list.txt and gps.txt lie (the executables pass
  // their --dir, or GetExeDir()). listener may be null.
  explicit CFleet(std::string dir, IFleetListener* listener = nullptr);
  // Stops the driver thread and destroys the devices that are left, without
  // writing list.txt (SaveAndRelease is the saving close).
  ~CFleet();
  CFleet(const CFleet&) = delete;
  CFleet& operator=(const CFleet&) = delete;

  // --- start and close ---
  // Reads devset.txt (defaults for missing "REG"/"VF"), gps.txt into the
  // process-wide GPS track (replacing what it held), and list.txt; creates its
  // devices offline; sets the title and the three status texts; starts the
  // driver thread, also when there is no list.txt. Returns the number of rows
  // loaded. A second call, or a call after SaveAndRelease, does nothing and
  // returns -1.
  int32_t LoadAll();
  // What LoadAll found wrong with the three files: damaged ones set aside
  // (devset.txt.bad, list.txt.bad) and fallbacks to defaults, once each.
  std::vector<FileNotice> LoadNotices();
  // Stops the driver (waits for it to end), PrepareExit on every device,
  // builds the list entries, Shutdown and destroys every device (the rows are
  // emptied), writes list.txt. False when list.txt could not be written, or
  // was not because a damaged list.txt could not be set aside (the devices
  // are gone all the same). The fleet takes no commands afterwards.
  bool SaveAndRelease();

  // --- operator's commands ---
  // Appends min(count, 9999) new offline devices; count <= 0 adds nothing.
  // count 1 names the device baseId itself, any other count "%s-%04d" with the
  // 1-based position. An over-long base ID is cut (never splitting a UTF-8
  // character) so that the ID fits 39 bytes: to 39 bytes alone, to 34 bytes
  // in a numbered batch. Returns the number added. When an ID of the batch
  // (after cutting) is already a row's ID, adds nothing, stores the first
  // such ID in batch order in *pDuplicate (when given) and returns
  // FLEET_ADD_DUPLICATE: two devices with one ID would log in as one.
  //
  // In a shard (SetShard) every batch is numbered, from index x count + 1,
  // with at least four digits, and may hold up to FLEET_MAX_SHARD_BATCH:
  // shard 1 of any N with "CAR" and 5000 adds CAR-5001 ... CAR-10000, so that
  // the shards of one run make one fleet of consecutive IDs. The base is cut
  // so that the longest ID fits 39 bytes.
  int32_t AddDevices(const std::string& baseId, int32_t count, std::string* pDuplicate = nullptr);
  // Makes this fleet shard index (from 0) of a run of several processes.
  void SetShard(int32_t index);
  // Local addresses (host order) that the devices' connections leave from,
  // given to the devices round robin as they go online; empty: any.
  void SetSourceAddresses(const std::vector<uint32_t>& addrs);
  // Shuts down, destroys and removes every selected row; the others keep
  // their order. Returns the number removed.
  int32_t DeleteDevices(const std::vector<int32_t>& selection);
  // Splits "REG" at its first ':', resolves its host once (an IPv4 address or
  // a name) and connects the selected devices, or every device when nothing
  // is selected. Without a ':', or with a host that is empty, cannot be
  // resolved or is 0.0.0.0, writes "dev - register address error." (and the
  // reason on a second line), touches nothing and returns false with the
  // reason in *pWhy. With perSecond > 0 the devices connect at that rate,
  // evenly spread, the first at once (a ramp; see COnlineRamp). A fleet that
  // would not fit this process or machine (PreflightOnline: the share table,
  // the open-file limit, the ephemeral ports per source address) is refused
  // the same way, with the figures in *pWhy, before anything connects.
  bool GoOnline(const std::vector<int32_t>& selection, std::string* pWhy = nullptr, double perSecond = 0);
  // GoOffline on the selected devices, or every device when none is selected.
  void TakeOffline(const std::vector<int32_t>& selection);
  // The emergency alarm of the first selected device. FLEET_SEND_FAILED asks
  // the caller to show "发送失败".
  int32_t SendEmergencyAlarm(const std::vector<int32_t>& selection);
  // One press of Send: parses text (comments collected, into a value that
  // starts null; what does not parse is sent as far as the reader got, an
  // empty text as the literal null) and sends it on the first selected
  // device's connection, time-out 1000 ms, logged.
  int32_t UploadCommand(const std::vector<int32_t>& selection, const std::string& text);
  // The values the PROPERTY dialog starts with: DeviceProperties::
  // DialogDefaults() when nothing is selected, else the first selected
  // device's values.
  DeviceProperties DialogProperties(const std::vector<int32_t>& selection);
  // Writes props into the first selected device, or into every device when
  // nothing is selected.
  void ApplyProperties(const std::vector<int32_t>& selection, const DeviceProperties& props);
  // SET dialog OK: stores "REG" and "VF", writes devset.txt, copies vf into
  // every device's szFramePath and sets the title. False when devset.txt could
  // not be written (everything else is done all the same).
  bool ApplySettings(const std::string& reg, const std::string& vf);
  // The "REG" and "VF" texts of the settings (the SET dialog's start values).
  // Take the command lock: not from the listener's callbacks.
  std::string Reg();
  std::string Vf();

  // --- reads (any thread) ---
  int32_t RowCount() const;
  // The row's label, image and the device's bOnline; false when row is out of range.
  bool RowInfo(int32_t row, FleetRowInfo& info) const;
  std::vector<FleetRowInfo> Snapshot() const;
  // The row's image index, -1 when row is out of range.
  int32_t RowImage(int32_t row) const;
  // "online, gps: %d alarm: %d" or "offline, gps: %d alarm: %d"; empty when
  // row is out of range.
  std::string StatusText(int32_t row) const;
  FleetStats Stats() const;
  // Runs fn on the row's device with the tick and row locks held (the driver
  // waits meanwhile); fn must not call the fleet. False when row is out of range.
  bool WithDevice(int32_t row, const std::function<void(CDevQ5&)>& fn) const;
  // The last title and status pane texts given to the listener.
  std::string Title() const;
  std::string StatusPane(int32_t pane) const;
  const std::string& Dir() const { return szExeDir; }

  // Time from the start of one driver pass to the start of the next
  // (FLEET_PASS_PAUSE_MS unless changed; tests shorten it). Any thread.
  void SetPassPause(uint32_t ms);

 private:
  static int DriverThread(void* fleet);
  void RunDriver();
  void DriverPass();
  void WaitForNextPass(std::chrono::steady_clock::time_point when);
  void StopDriver();
  // Under the command lock:
  std::vector<int32_t> CleanSelection(const std::vector<int32_t>& selection) const;
  int32_t FirstTakenId(const std::vector<std::string>& ids) const;
  std::vector<CDevQ5*> Targets(const std::vector<int32_t>& selection) const;
  int64_t OnlineAfter(const std::vector<CDevQ5*>& targets) const;
  CDevQ5* FirstSelected(const std::vector<int32_t>& selection) const;
  void AppendRows(std::vector<FleetRow>& fresh);
  std::unique_ptr<CDevQ5> MakeDevice();
  void DestroyDevices(std::vector<FleetRow>& doomed);
  void SetTitle(const std::string& text);
  void SetStatusPane(int32_t pane, const std::string& text);
  void LoadSettingsNoting();
  void LoadGpsNoting();
  void LoadListNoting(std::vector<ListEntry>& entries);

  const std::string szExeDir;
  IFleetListener* const pListener;

  std::mutex cmdLock;           // serialises the commands
  mutable std::mutex tickLock;  // held by the driver for one Tick; taken before rowsLock
  mutable std::mutex rowsLock;  // guards rows (structure and images) and the texts below
  std::vector<FleetRow> rows;
  std::string szTitle;
  std::string szPanes[3];
  Json::Value settings;         // command lock

  std::atomic<int32_t> bStopDriver{0};
  std::atomic<int32_t> bLoaded{0};
  std::atomic<uint32_t> nPassPauseMs{FLEET_PASS_PAUSE_MS};
  std::atomic<uint32_t> nLastPassMs{0};
  std::atomic<uint32_t> nMaxPassMs{0};
  std::atomic<uint32_t> nPasses{0};
  std::mutex pauseLock;
  std::condition_variable pauseWake;
  bool bPauseChanged = false;   // pauseLock
  ThreadHandle driverThread;    // command lock
  bool bDriverStarted = false;  // command lock
  bool bReleased = false;       // command lock: SaveAndRelease has run
  bool bSaved = false;          // command lock: what that SaveAndRelease wrote list.txt with
  bool bListKeptInPlace = false;        // command lock: a damaged list.txt must not be replaced
  uint32_t nDevicesMade = 0;            // command lock
  int32_t nShardIndex = -1;             // command lock; -1: not a shard
  std::vector<uint32_t> sourceAddrs;    // command lock
  size_t nNextSource = 0;               // command lock: round robin over sourceAddrs
  COnlineRamp ramp{cmdLock};            // command lock (its thread takes it too)
  std::vector<FileNotice> loadNotices;  // command lock
};
