#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Where a serial port's adapter is plugged: the physical USB position, which
// stays the same when the system hands out another ttyUSB or COM number.
class UsbLocation
{
public:
    // One node of the Windows device tree, as SetupAPI reports it.
    struct DeviceNode
    {
        QString instanceId;          // "USB\VID_0403&PID_6001\A12345", "FTDIBUS\..."
        QStringList locationPaths;   // "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(4)"
        QString locationInformation; // "Port_#0004.Hub_#0002"
    };

    // Empty for a port without USB, or where the position cannot be read.
    static QString of(const QString &portName);
    // The USB device path ("1-1.4") in a resolved sysfs device path, or empty.
    static QString fromSysfsPath(const QString &devicePath);
    // The position of the USB device in a COM port's chain of device nodes
    // (the port's own node first, then its parents): its first location path,
    // else its location information; empty when no USB device is in the chain.
    static QString fromDeviceChain(const QList<DeviceNode> &chain);
};
