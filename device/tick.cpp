#include "device/dev_q5.h"
#include "device/upload_burst.h"

void CDevQ5::Tick() {
  // One snapshot of the settings serves the whole Tick.
  std::shared_ptr<const DeviceSettings> s = settings.Snapshot();
  const DeviceProperties& props = s->props;
  uint32_t now = schedule.Advance();
  // Automatic offline: the connection is closed silently; reconnection follows.
  session.AutoOfflineIfDue(now, props.nAutoOffline);
  schedule.NoteLogin(session.IsOnline(), props.nUploadInterval);
  // Most Ticks find nothing due: the message object is made only when needed.
  if (session.IsOnline() && schedule.UploadsDue(props.nUploadInterval)) {
    // The messages of one Tick leave together, in one send.
    CUploadBurst burst(session.Socket());
    schedule.AddUploads(props, burst, counters);
    burst.Send();
  }
  if (pStreams) pStreams->Reap();
  if (!session.WantsOnline()) return;
  if (session.IsOnline()) {
    schedule.SendKeepAliveIfDue(session.Socket(), counters);
    return;
  }
  session.ReconnectIfDue(now);
}
