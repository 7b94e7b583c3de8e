#include "app/fleet_figures.h"

#include "net/load_counters.h"

StatFigures FleetFigures(const FleetStats& st) {
  StatFigures f;
  AddLevel(f, "devices", "Devices in the fleet", st.nDevices);
  AddLevel(f, "online", "Devices logged in", st.nOnline);
  AddLevel(f, "connecting", "Devices wanted online and not logged in", st.nConnecting);
  AddLevel(f, "offline", "Devices not wanted online", st.nOffline);
  AddLevel(f, "ramp_pending", "Devices an online ramp has still to connect", st.nRampPending);
  for (int32_t k = 0; k < MSG_KINDS; ++k)
    AddTotal(f, LoadMessageName(k), std::string("Messages sent: ") + LoadMessageName(k), MessageCount(k));
  AddTotal(f, "bytes", "Bytes the sockets accepted", static_cast<double>(st.nBytesSent));
  for (int32_t k = 0; k < FAIL_KINDS; ++k)
    AddTotal(f, LoadFailureName(k), std::string("Failures: ") + LoadFailureName(k), FailureCount(k));
  AddLevel(f, "live", "Live streams claimed", st.nStreams[STREAM_LIVE]);
  AddLevel(f, "talk", "Talk streams claimed", st.nStreams[STREAM_TALK]);
  AddLevel(f, "download", "Downloads claimed", st.nStreams[STREAM_DOWNLOAD]);
  AddLevel(f, "playback", "Playbacks claimed", st.nStreams[STREAM_PLAYBACK]);
  AddMaybe(f, "expected_gps_per_s", "GPS uploads per second the online devices are due to send", true,
           st.expected.dGps, 3);
  AddMaybe(f, "expected_alarms_per_s", "Alarms per second the online devices are due to send", true,
           st.expected.dAlarms, 3);
  AddMaybe(f, "expected_keepalives_per_s", "Keep-alives per second the online devices are due to send", true,
           st.expected.dKeepAlives, 3);
  AddLevel(f, "pass_ms", "Length of the driver's last pass in ms", st.nLastPassMs);
  AddLevel(f, "pass_max_ms", "Length of the driver's longest pass in ms", st.nMaxPassMs);
  return f;
}
