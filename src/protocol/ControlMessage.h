#pragma once

#include "protocol/PaneConnection.h"

namespace tess {

// Control datagrams through the pane's datagram link. After either kind the
// byte and frame counters restart at 0 and the statistics start is now.

// Reports the bit rate (kbit/s) and drawn frame rate since the statistics start.
void sendStatistics(PaneConnection& pane);
// Tells the device that the viewer closes the session.
void sendConnectionClose(PaneConnection& pane);

}  // namespace tess
