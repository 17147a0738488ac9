#pragma once

#include <QHash>
#include <QLatin1String>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The modem configuration text: lines of "key::value::description" joined by
// CR LF, stored as UTF-8 without a byte-order mark.

namespace SettingsKey {
inline constexpr QLatin1String CryptData("CRYPT_DATA");
inline constexpr QLatin1String DebugSer("DEBUG_SER");
inline constexpr QLatin1String Pin("PIN");
inline constexpr QLatin1String Apn("APN");
inline constexpr QLatin1String GprsUser("GPRS_USER");
inline constexpr QLatin1String GprsPasswd("GPRS_PASSWD");
inline constexpr QLatin1String DestIp("DEST_IP");
inline constexpr QLatin1String DestPort("DEST_PORT");
inline constexpr QLatin1String SerSp("SER_SP");
} // namespace SettingsKey

inline constexpr QLatin1String SettingsFieldSeparator("::");

// The nine template lines with their defaults and descriptions, in the order
// every written file keeps. Built once; callers change only their own copy.
const QStringList &defaultSettings();

// Writes the lines with CR LF between them and none after the last. The old
// file is replaced only once the new content is complete, so a failed write
// leaves it as it was. Returns whether the file was written.
bool writeLinesToFile(const QString &fileName, const QStringList &lines);

// The file's lines: its UTF-8 text up to the first zero byte, split on CR LF
// with empty pieces kept. A file that cannot be opened gives the template.
QStringList readSettingsLines(const QString &fileName);

// Key and value of every line that has exactly three fields, in line order;
// a later pair for the same key overrides an earlier one when applied.
QList<QPair<QString, QString>> settingsFields(const QStringList &lines);

// The nine template lines with the given values; a key missing from the map
// keeps the template's value, and the descriptions always come from the template.
QStringList composeSettings(const QHash<QString, QString> &values);
