#include "portlister.h"

#include "usblocation.h"

#include <QSerialPortInfo>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <sys/stat.h>
#endif

PortLister::PortLister()
    : mSource(&PortLister::systemPorts), mSignature(&PortLister::systemSignature), mThreadSafe(true)
{
}

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

QByteArray PortLister::systemSignature()
{
#ifdef Q_OS_LINUX
    struct stat devices
    {
    };
    if (::stat("/dev", &devices) != 0)
        return QByteArray();
    QByteArray signature = QByteArray::number(qint64(devices.st_mtim.tv_sec)) + '.' +
                           QByteArray::number(qint64(devices.st_mtim.tv_nsec));
    DIR *ttys = ::opendir("/sys/class/tty");
    if (!ttys)
        return QByteArray();
    while (const dirent *entry = ::readdir(ttys))
        signature += ' ' + QByteArray(entry->d_name);
    ::closedir(ttys);
    return signature;
#else
    return QByteArray();
#endif
}
