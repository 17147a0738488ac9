#include "usblocation.h"

#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>
#endif

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

// The USB device is the first node named "USB\..." that is not one interface
// of a composite device ("&MI_nn": a CDC modem's port is such an interface,
// and its position is its device's). An FTDI-style port sits one level below
// the device ("FTDIBUS\..."), a CDC one on the interface: both lead up to it.
QString UsbLocation::fromDeviceChain(const QList<DeviceNode> &chain)
{
    const DeviceNode *device = nullptr;
    for (const DeviceNode &node : chain) {
        if (!node.instanceId.startsWith(QLatin1String("USB\\"), Qt::CaseInsensitive))
            continue;
        if (!device)
            device = &node;
        if (!node.instanceId.contains(QLatin1String("&MI_"), Qt::CaseInsensitive)) {
            device = &node;
            break;
        }
    }
    if (!device)
        return QString();
    for (const QString &path : device->locationPaths) {
        if (!path.trimmed().isEmpty())
            return path.trimmed();
    }
    return device->locationInformation.trimmed();
}

#ifdef Q_OS_WIN
namespace {

// A string or multi-string property of a device node; empty if it has none.
QStringList nodeProperty(DEVINST node, ULONG property)
{
    ULONG type = 0;
    ULONG size = 0;
    if (CM_Get_DevNode_Registry_PropertyW(node, property, &type, nullptr, &size, 0) !=
            CR_BUFFER_SMALL ||
        size == 0)
        return {};
    QVector<wchar_t> buffer(int(size / sizeof(wchar_t)) + 2, L'\0');
    if (CM_Get_DevNode_Registry_PropertyW(node, property, &type, buffer.data(), &size, 0) !=
        CR_SUCCESS)
        return {};
    QStringList strings;
    // A multi-string: strings each ended by a zero, the list by another.
    for (const wchar_t *part = buffer.constData(); *part; part += wcslen(part) + 1)
        strings << QString::fromWCharArray(part);
    return strings;
}

QList<UsbLocation::DeviceNode> nodeChain(DEVINST node)
{
    QList<UsbLocation::DeviceNode> chain;
    // A USB device is a few levels above its port; the root ends the walk.
    for (int level = 0; level < 8; ++level) {
        UsbLocation::DeviceNode entry;
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS)
            entry.instanceId = QString::fromWCharArray(id);
        entry.locationPaths = nodeProperty(node, CM_DRP_LOCATION_PATHS);
        entry.locationInformation = nodeProperty(node, CM_DRP_LOCATION_INFORMATION).value(0);
        chain << entry;
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
            break;
        node = parent;
    }
    return chain;
}

// The device's "PortName" value, as the serial port list names the port.
QString portNameOf(HDEVINFO set, SP_DEVINFO_DATA *data)
{
    const HKEY key =
        SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE)
        return QString();
    wchar_t name[256] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? QString::fromWCharArray(name) : QString();
}

// The setup classes of serial ports and of modems, where the port list finds them.
const GUID portsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID modemsClass = {
    0x4d36e96d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

} // namespace
#endif

// The platform seam: sysfs on Linux, SetupAPI on Windows (the device behind
// the COM port whose "PortName" it is); elsewhere no position is read and the
// socket falls back to the port's name.
QString UsbLocation::of(const QString &portName)
{
#if defined(Q_OS_LINUX)
    const QString link = QStringLiteral("/sys/class/tty/") + portName + QStringLiteral("/device");
    const QString resolved = QFileInfo(link).canonicalFilePath();
    return resolved.isEmpty() ? QString() : fromSysfsPath(resolved);
#elif defined(Q_OS_WIN)
    for (const GUID &setupClass : {portsClass, modemsClass}) {
        const HDEVINFO set = SetupDiGetClassDevsW(&setupClass, nullptr, nullptr, DIGCF_PRESENT);
        if (set == INVALID_HANDLE_VALUE)
            continue;
        QString location;
        bool found = false;
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(set, index, &data); ++index) {
            if (portNameOf(set, &data).compare(portName, Qt::CaseInsensitive) != 0)
                continue;
            found = true;
            location = fromDeviceChain(nodeChain(data.DevInst));
        }
        SetupDiDestroyDeviceInfoList(set);
        if (found)
            return location;
    }
    return QString();
#else
    Q_UNUSED(portName)
    return QString();
#endif
}
