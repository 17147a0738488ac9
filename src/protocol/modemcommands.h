#pragma once

#include "modemfiles.h"

#include <QByteArray>

// Every command the tool sends to the modem, byte for byte. Each ends in "\r".
namespace ModemCommands {

inline const QByteArray echoOff()
{
    return QByteArrayLiteral("ate0\r");
}
inline const QByteArray readSettings()
{
    return "at#rscript=\"" + ModemFiles::settings().toLatin1() + "\"\r";
}
inline const QByteArray unselectScript()
{
    return QByteArrayLiteral("at#escript=\"\"\r");
}
inline const QByteArray startModeOff()
{
    return QByteArrayLiteral("at#startmodescr=0\r");
}
inline const QByteArray restart()
{
    return QByteArrayLiteral("at#enhrst=1,0\r");
}
inline const QByteArray listScripts()
{
    return QByteArrayLiteral("at#lscript\r");
}
inline const QByteArray startModeOn()
{
    return QByteArrayLiteral("at#startmodescr=1,10\r");
}
inline const QByteArray selectMain()
{
    return "at#escript=\"" + ModemFiles::mainScript().toLatin1() + "\"\r";
}
inline const QByteArray execScript()
{
    return QByteArrayLiteral("at#execscr\r");
}
// The production line asks each modem for its IMEI before its job.
inline const QByteArray imeiQuery()
{
    return QByteArrayLiteral("at+cgsn\r");
}

// The markers the tool looks for in answers (case-sensitive substring search).
inline const QByteArray ok()
{
    return QByteArrayLiteral("OK");
}
inline const QByteArray prompt()
{
    return QByteArrayLiteral(">>>");
}

} // namespace ModemCommands
