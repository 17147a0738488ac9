#pragma once

#include <QString>

// Where a serial port's adapter is plugged: the physical USB position, which
// stays the same when the system hands out another ttyUSB or COM number.
class UsbLocation
{
public:
    // Empty for a port without USB, or where the position cannot be read.
    static QString of(const QString &portName);
    // The USB device path ("1-1.4") in a resolved sysfs device path, or empty.
    static QString fromSysfsPath(const QString &devicePath);
};
