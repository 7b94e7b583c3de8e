#pragma once

// Process start-up for a program that opens thousands of sockets: SIGPIPE is
// ignored (a send to a reset peer fails instead of killing the process) and the
// soft open-file limit is raised to the hard limit; large allocations are
// always mapped on their own, so stream buffers go back to the system when
// freed. Returns the new soft limit.
long ProcessStartup();
