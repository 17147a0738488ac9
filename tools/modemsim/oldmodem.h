#pragma once

#include <QByteArray>

class ModemSim;

// A modem that has been in service: two old scripts, plainly not the tool's,
// and a settings file of its own that differs from the tool's template, so a
// run shows whether a flash replaced the scripts and kept the modem's settings.
// Shared by the demo, the Wine check and the simulator's --demo.
namespace OldModem {
// A marker line naming the script, then every byte value up to `size`.
QByteArray script(const QByteArray &name, int size);
// The nine keys with the modem's own values (PIN 1234, APN depot.apn).
QByteArray settings();
// Puts main.pyo, config.pyo and settings.ini into the modem.
void preload(ModemSim &sim);
} // namespace OldModem
