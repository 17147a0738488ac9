#include "usblocation.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

QString UsbLocation::fromSysfsPath(const QString &devicePath)
{
    // ".../usb1/1-1/1-1.4/1-1.4:1.0/ttyUSB0": the last bus-port component is the
    // adapter; the one with a colon is its interface, which is not the position.
    static const QRegularExpression usbPath(QStringLiteral("^[0-9]+-[0-9]+(\\.[0-9]+)*$"));
    const QStringList parts = devicePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = parts.size() - 1; i >= 0; --i) {
        if (usbPath.match(parts.at(i)).hasMatch())
            return parts.at(i);
    }
    return QString();
}

// The platform seam: sysfs on Linux; elsewhere no position is read yet and the
// socket falls back to the port's name.
QString UsbLocation::of(const QString &portName)
{
#ifdef Q_OS_LINUX
    const QString link = QStringLiteral("/sys/class/tty/") + portName + QStringLiteral("/device");
    const QString resolved = QFileInfo(link).canonicalFilePath();
    return resolved.isEmpty() ? QString() : fromSysfsPath(resolved);
#else
    Q_UNUSED(portName)
    return QString();
#endif
}
