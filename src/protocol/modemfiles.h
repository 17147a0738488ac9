#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The files the tool keeps in the modem, by the names the modem knows them.
namespace ModemFiles {

// The modem's settings file, and the local file of the same name that load
// and flash send (the name's case counts: "Settings.ini" is another file).
inline QString settings()
{
    return QStringLiteral("settings.ini");
}
inline QString mainScript()
{
    return QStringLiteral("main.pyo");
}
inline QString configScript()
{
    return QStringLiteral("config.pyo");
}
// The compiled scripts a flash writes, in this order.
inline QStringList scripts()
{
    return {mainScript(), configScript()};
}

} // namespace ModemFiles

// The serial line to the modem: always 8 data bits, no parity, one stop bit,
// no flow control.
namespace ModemLine {

constexpr int baudRate = 9600;
constexpr int bitsPerByte = 10; // a start bit, eight data bits, a stop bit

// The speeds a serial port of the modem may be set to, slowest first: the
// window's (hidden) list and the settings file's SER_SP offer these.
inline const QList<int> &speeds()
{
    static const QList<int> all{4800, 9600, 19200, 38400, 57600, 115200};
    return all;
}

} // namespace ModemLine
