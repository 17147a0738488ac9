#include "portlister.h"

#include "usblocation.h"

#include <QSerialPortInfo>

PortLister::PortLister() : mSource(&PortLister::systemPorts), mThreadSafe(true) {}

// QSerialPortInfo reads the system's device lists only; no port is opened. It
// and the USB position's lookup are reentrant: any thread may list.
QList<PortEntry> PortLister::systemPorts()
{
    QList<PortEntry> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        PortEntry entry;
        entry.name = info.portName();
        entry.systemLocation = info.systemLocation();
        entry.serialNumber = info.serialNumber();
        entry.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        entry.vendorId = info.vendorIdentifier();
        entry.productId = info.productIdentifier();
        if (entry.hasIds)
            entry.location = UsbLocation::of(entry.name);
        ports.append(entry);
    }
    return ports;
}
