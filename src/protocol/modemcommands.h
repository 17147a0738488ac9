#pragma once

#include <QByteArray>

// Every command the tool sends to the modem, byte for byte. Each ends in "\r".
namespace ModemCommands {

inline const QByteArray echoOff() { return QByteArrayLiteral("ate0\r"); }
inline const QByteArray readSettings() { return QByteArrayLiteral("at#rscript=\"settings.ini\"\r"); }
inline const QByteArray unselectScript() { return QByteArrayLiteral("at#escript=\"\"\r"); }
inline const QByteArray startModeOff() { return QByteArrayLiteral("at#startmodescr=0\r"); }
inline const QByteArray restart() { return QByteArrayLiteral("at#enhrst=1,0\r"); }
inline const QByteArray listScripts() { return QByteArrayLiteral("at#lscript\r"); }
inline const QByteArray startModeOn() { return QByteArrayLiteral("at#startmodescr=1,10\r"); }
inline const QByteArray selectMain() { return QByteArrayLiteral("at#escript=\"main.pyo\"\r"); }
inline const QByteArray execScript() { return QByteArrayLiteral("at#execscr\r"); }

// The markers the tool looks for in answers (case-sensitive substring search).
inline const QByteArray ok() { return QByteArrayLiteral("OK"); }
inline const QByteArray prompt() { return QByteArrayLiteral(">>>"); }

// Answer waits in milliseconds; 0 stands for the default of 250 ms.
constexpr int defaultWait = 250;
constexpr int listWait = 2000;
constexpr int readWait = 2000;
constexpr int deleteWait = 500;
constexpr int writeCommandWait = 1500;

} // namespace ModemCommands
