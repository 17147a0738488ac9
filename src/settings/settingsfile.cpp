#include "settings/settingsfile.h"

#include "protocol/modemfiles.h"
#include "protocol/modemtext.h"
#include "settings/smallfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

namespace {

constexpr QLatin1String lineEnd = latin1Literal("\r\n");

QStringList buildTemplate()
{
    return {
        QStringLiteral("CRYPT_DATA::0::Шифровать данные (1 - вкл., 0 - выкл.)"),
        QStringLiteral("DEBUG_SER::0::Вывод отладочной информации в последовательный порт (1 - "
                       "вкл., 0 - выкл.)"),
        QStringLiteral("PIN::4721::PIN-код"),
        QStringLiteral("APN::internet::Точка входа GPRS"),
        QStringLiteral("GPRS_USER::plomk::Имя пользователя GPRS"),
        QStringLiteral("GPRS_PASSWD::plomk::Пароль GPRS"),
        QStringLiteral("DEST_IP::192.168.1.1::Адрес назначения исходящего соединения"),
        QStringLiteral("DEST_PORT::1234::Порт назначения исходящего соединения"),
        QStringLiteral("SER_SP::38400::Скорость последовательного порта (бит/сек)"),
    };
}

// Overwrites the file's bytes and cuts it to the new length; on failure puts
// back what it held. The file keeps its owner and permissions.
bool writeInPlace(const QString &fileName, const QByteArray &content)
{
    const bool existed = QFileInfo::exists(fileName);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return false;
    const QByteArray old = file.readAll();
    const auto replaceWith = [&file](const QByteArray &bytes) {
        return file.seek(0) && file.write(bytes) == bytes.size() && file.flush() &&
               file.resize(bytes.size());
    };
    if (replaceWith(content))
        return true;
    if (existed)
        replaceWith(old);
    else
        file.remove();
    return false;
}

QStringList splitFields(const QString &line)
{
    return line.split(SettingsFieldSeparator, Qt::KeepEmptyParts);
}

// CR and LF inside a kept line are line breaks the modem's file may hold.
bool isForeignControl(QChar c)
{
    return isControlCharacter(c) && c != QLatin1Char('\r') && c != QLatin1Char('\n');
}

bool isSettingsLine(const QString &line)
{
    return (line.isEmpty() || splitFields(line).size() == 3) &&
           std::none_of(line.cbegin(), line.cend(), isForeignControl);
}

} // namespace

bool isControlCharacter(QChar c)
{
    constexpr ushort firstPrintable = 32;
    constexpr ushort deleteCharacter = 127;
    return c.unicode() < firstPrintable || c.unicode() == deleteCharacter;
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), isControlCharacter);
}

const QStringList &defaultSettings()
{
    static const QStringList lines = buildTemplate();
    return lines;
}

bool writeLinesToFile(const QString &fileName, const QStringList &lines)
{
    // Only a regular file is replaced. A FIFO, or a link to a device, is no
    // settings file: rewriting it in place would read it without end, and the
    // save below follows links, so it would put a file where the device was.
    const QFileInfo target(fileName);
    if (target.exists() && !target.isFile())
        return false;
    const QByteArray content = lines.join(lineEnd).toUtf8();
    QSaveFile file(fileName);
    // The new content goes to a file of its own beside the old one and replaces
    // it only once all of it is written; a failed write leaves the old file.
    // Unbuffered: a short write (a full disk) shows in write()'s result itself;
    // a buffered one could fail in the commit's flush unnoticed and replace the
    // old file with a truncated one.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.write(content) == content.size() && file.flush() && file.commit();
    // The folder refuses new files (no right to create one, a locked or shared
    // folder) while the file itself may still be writable.
    return writeInPlace(fileName, content);
}

QStringList readSettingsLines(const QString &fileName)
{
    return settingsLines(readSmallFile(fileName, maxSettingsFileBytes));
}

QStringList settingsLines(const SmallFile &content)
{
    if (!content.isRead())
        return defaultSettings();
    return textUpToZero(content.bytes).split(lineEnd, Qt::KeepEmptyParts);
}

QList<QPair<QString, QString>> settingsFields(const QStringList &lines)
{
    QList<QPair<QString, QString>> fields;
    for (const QString &line : lines) {
        const QStringList parts = splitFields(line);
        if (parts.size() == 3)
            fields.append({parts.at(0), parts.at(1)});
    }
    return fields;
}

bool isSettingsText(const QStringList &lines)
{
    return std::all_of(lines.cbegin(), lines.cend(), isSettingsLine) &&
           lines.join(lineEnd).toUtf8().size() <= maxSettingsFileBytes;
}

QStringList composeSettings(const QHash<QString, QString> &values)
{
    QStringList lines;
    for (const QString &templateLine : defaultSettings()) {
        const QStringList parts = splitFields(templateLine);
        const QString &key = parts.at(0);
        lines << QStringList{key, values.value(key, parts.at(1)), parts.at(2)}.join(
            SettingsFieldSeparator);
    }
    return lines;
}

QHash<QString, QString> settingsAsDialogReads(const QStringList &lines)
{
    const QList<int> speeds = ModemLine::speeds();
    QHash<QString, QString> values;
    for (const QString &templateLine : defaultSettings())
        values.insert(splitFields(templateLine).at(0), QString());
    values.insert(SettingsKey::CryptData, QStringLiteral("0"));
    values.insert(SettingsKey::DebugSer, QStringLiteral("0"));
    values.insert(SettingsKey::SerSp, QString::number(speeds.value(0)));
    const auto isSpeed = [&speeds](const QString &text) {
        return std::any_of(speeds.cbegin(), speeds.cend(),
                           [&text](int speed) { return QString::number(speed) == text; });
    };
    for (const auto &[key, value] : settingsFields(lines)) {
        if (!values.contains(key) || key == SettingsKey::DebugSer)
            continue;
        if (key == SettingsKey::CryptData)
            values.insert(key, value == QLatin1String("0") ? value : QStringLiteral("1"));
        else if (key != SettingsKey::SerSp || isSpeed(value))
            values.insert(key, value);
    }
    return values;
}
