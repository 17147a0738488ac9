#pragma once

// The production line with 16 sockets, each a simulated modem on its own
// pseudo-terminal behind a hand-filled port list: the time from a port's
// appearance to the first command it receives, the CPU of the watch while the
// 16 sockets wait for modems that do not answer, and the largest stall of the
// event loop while 16 flash jobs run. False when a flash failed.
bool measureWatch();
