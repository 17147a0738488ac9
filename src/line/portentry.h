#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One serial port as the watcher sees it, without opening it.
struct PortEntry
{
    QString name;           // as the system names it: ttyUSB0, COM3
    QString systemLocation; // what to open: /dev/ttyUSB0, \\.\COM3
    QString location;       // the physical USB position, or empty without USB
    QString serialNumber;   // the adapter's, when it has one
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool hasIds = false;
    // Which device node the name stands for (Linux: its inode and device
    // number): a port that comes back under its name before a look has missed
    // it is another device. Empty where the system does not say.
    QString device;

    // The socket's key: the USB position, or for a port without one its name.
    QString socketKey() const { return location.isEmpty() ? name : location; }
};

Q_DECLARE_METATYPE(PortEntry)
