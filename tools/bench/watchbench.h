#pragma once

#include <QString>

// The production line with 16 sockets, each a simulated modem in a process of
// its own behind a hand-filled port list: the time from a port's appearance to
// the first command it receives, the CPU of the watch's process while the 16
// sockets wait for modems that do not answer and while it only reads the
// system's port list, and the largest stall of the event loop while 16 flash
// jobs run. False when a flash failed.
bool measureWatch(const QString &simulator);
