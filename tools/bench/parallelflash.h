#pragma once

#include <QString>

// Flashes 1, 4, 8 and 16 paced simulated modems at once with the command-line
// flasher's own code in this process, each modem a simulator process of its
// own on its own pseudo-terminal, and prints one row per count: wall time
// against one port's, CPU per port, peak memory and the largest stall of the
// event loop. False when a modem could not be started or a flash failed.
bool measureParallelFlash(const QString &simulatorPath);
