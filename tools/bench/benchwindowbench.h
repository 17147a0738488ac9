#pragma once

#include <QString>

// The bench window offscreen over 16 sockets of the watch's benchmark rig: the
// largest GUI-thread stall while 16 modems are flashed at once, and the CPU of
// the window's process while 16 sockets wait for modems that do not answer.
// False when a flash failed.
bool measureBenchWindow(const QString &simulator);
