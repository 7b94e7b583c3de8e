#include "device/dev_q5.h"
#include "device/upload_burst.h"

void CDevQ5::Tick() {
  // One copy of the behaviour values serves the whole Tick.
  const DeviceProperties props = settings.Properties();
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
