#include "portlister.h"

#include "usblocation.h"

#include <QFile>
#include <QSerialPortInfo>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <sys/stat.h>
#endif

PortLister::PortLister()
    : mSource(&PortLister::systemPorts), mSignature(&PortLister::systemSignature), mThreadSafe(true)
{
}

QString PortLister::deviceNode(const QString &systemLocation)
{
#ifdef Q_OS_LINUX
    struct stat node
    {
    };
    if (::stat(QFile::encodeName(systemLocation).constData(), &node) != 0)
        return QString();
    // Not its times: udev changing its mode or owner is the same device.
    return QStringLiteral("%1.%2").arg(qulonglong(node.st_ino)).arg(qulonglong(node.st_rdev));
#else
    Q_UNUSED(systemLocation)
    return QString();
#endif
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
        entry.device = deviceNode(entry.systemLocation);
        ports.append(entry);
    }
    return ports;
}

QByteArray PortLister::systemSignature()
{
#ifdef Q_OS_LINUX
    // The time a directory last had an entry made or removed; empty without it.
    const auto changed = [](const char *path) {
        struct stat directory
        {
        };
        if (::stat(path, &directory) != 0)
            return QByteArray();
        return QByteArray::number(qint64(directory.st_mtim.tv_sec)) + '.' +
               QByteArray::number(qint64(directory.st_mtim.tv_nsec));
    };
    const QByteArray devices = changed("/dev");
    if (devices.isEmpty())
        return QByteArray();
    // udev's database, where a new port's IDs and serial number appear once
    // udev has seen to it.
    QByteArray signature = devices + ' ' + changed("/run/udev/data");
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
