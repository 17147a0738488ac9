#pragma once

#include <QHash>
#include <QLatin1String>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct SmallFile;

// The modem configuration text: lines of "key::value::description" joined by
// CR LF, stored as UTF-8 without a byte-order mark.

// A QLatin1String usable in a constant expression: its const char * constructor
// calls strlen, which only GCC accepts there.
template <int N> constexpr QLatin1String latin1Literal(const char (&text)[N])
{
    return QLatin1String(text, N - 1);
}

namespace SettingsKey {
inline constexpr QLatin1String CryptData = latin1Literal("CRYPT_DATA");
inline constexpr QLatin1String DebugSer = latin1Literal("DEBUG_SER");
inline constexpr QLatin1String Pin = latin1Literal("PIN");
inline constexpr QLatin1String Apn = latin1Literal("APN");
inline constexpr QLatin1String GprsUser = latin1Literal("GPRS_USER");
inline constexpr QLatin1String GprsPasswd = latin1Literal("GPRS_PASSWD");
inline constexpr QLatin1String DestIp = latin1Literal("DEST_IP");
inline constexpr QLatin1String DestPort = latin1Literal("DEST_PORT");
inline constexpr QLatin1String SerSp = latin1Literal("SER_SP");
} // namespace SettingsKey

inline constexpr QLatin1String SettingsFieldSeparator = latin1Literal("::");

// The largest settings file the tool reads, stores or sends: a real one is
// under 1 KB, and at about 2 ms a byte into the modem a much larger one is no
// settings file of this tool.
inline constexpr qint64 maxSettingsFileBytes = 16384;

// Characters below the blank, and DEL: never part of a settings value.
bool isControlCharacter(QChar c);
bool hasControlCharacter(const QString &text);

// The nine template lines with their defaults and descriptions, in the order
// every written file keeps. Built once; callers change only their own copy.
const QStringList &defaultSettings();

// Writes the lines with CR LF between them and none after the last. The old
// file is replaced only once the new content is complete, so a failed write
// (a full disk among others) leaves it as it was. Where the folder refuses a
// new file the file is rewritten in place, and its old content put back if
// that fails. Anything but a regular file (a FIFO, a link to a device) is left
// alone and the write fails. Returns whether every byte was written.
bool writeLinesToFile(const QString &fileName, const QStringList &lines);

// The file's lines: its UTF-8 text up to the first zero byte, split on CR LF
// with empty pieces kept. A file that cannot be read, is not a regular file or
// is larger than maxSettingsFileBytes gives the template.
QStringList readSettingsLines(const QString &fileName);
// The same for a file read once already: the template when it was not read.
QStringList settingsLines(const SmallFile &content);

// Key and value of every line that has exactly three fields, in line order;
// a later pair for the same key overrides an earlier one when applied.
QList<QPair<QString, QString>> settingsFields(const QStringList &lines);

// Whether lines read back from the modem make a settings file the tool may
// store: at most maxSettingsFileBytes bytes as written, no control character
// but the line breaks, and every line but an empty one of exactly three fields.
bool isSettingsText(const QStringList &lines);

// The nine template lines with the given values; a key missing from the map
// keeps the template's value, and the descriptions always come from the template.
QStringList composeSettings(const QHash<QString, QString> &values);

// The values the settings dialog shows for these lines, as its Apply would
// write them: "1" or "0" for CRYPT_DATA, "0" for DEBUG_SER, SER_SP only as one
// of its speeds (else the first, "4800"), the line edits' keys verbatim and
// empty when the lines lack them.
QHash<QString, QString> settingsAsDialogReads(const QStringList &lines);
