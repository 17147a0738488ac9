#include "settings/settingsfile.h"

#include "serial/modemtext.h"

#include <QFile>
#include <QSaveFile>

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

QStringList splitFields(const QString &line)
{
    return line.split(SettingsFieldSeparator, Qt::KeepEmptyParts);
}

} // namespace

const QStringList &defaultSettings()
{
    static const QStringList lines = buildTemplate();
    return lines;
}

bool writeLinesToFile(const QString &fileName, const QStringList &lines)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(lines.join(lineEnd).toUtf8());
    return file.commit();
}

QStringList readSettingsLines(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return defaultSettings();
    return textUpToZero(file.readAll()).split(lineEnd, Qt::KeepEmptyParts);
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
