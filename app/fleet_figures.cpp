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
  AddLevel(f, "pass_ms", "Length of the driver's last pass in ms", st.nLastPassMs);
  AddLevel(f, "pass_max_ms", "Length of the driver's longest pass in ms", st.nMaxPassMs);
  return f;
}
