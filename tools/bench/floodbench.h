#pragma once

// The window under a script that floods the line: "Stop Script: " and 4 KB without a line
// break every 10 ms, from the unpaced simulated modem, with the log pane filled to its
// character budget first, as after some minutes of it. Prints the longest GUI stall, the
// lines shown and their longest, the pane's size, memory over the run, and how long closing
// the port and the window take. Runs a modem and a window of its own.
void measureFlood(int seconds);
