#pragma once

#include <QByteArray>

// What the simulated modem holds before the flash: two old scripts, plainly
// not the tool's, and a settings file of its own that differs from the local
// one, so the end shows whether the flash replaced the scripts and kept the
// modem's settings.
namespace OldModem {
QByteArray script(const QByteArray &name, int size);
QByteArray settings();
} // namespace OldModem
