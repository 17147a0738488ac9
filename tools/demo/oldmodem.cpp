#include "oldmodem.h"

#include "settings/settingsfile.h"

#include <QHash>

namespace OldModem {

QByteArray script(const QByteArray &name, int size)
{
    QByteArray bytes = "old " + name + " (left by an earlier flash)\n";
    for (int i = 0; bytes.size() < size; ++i)
        bytes.append(char(i & 0xff));
    return bytes;
}

QByteArray settings()
{
    const QHash<QString, QString> values = {
        {SettingsKey::CryptData, QStringLiteral("1")},
        {SettingsKey::Pin, QStringLiteral("1234")},
        {SettingsKey::Apn, QStringLiteral("depot.apn")},
        {SettingsKey::GprsUser, QStringLiteral("depot")},
        {SettingsKey::GprsPasswd, QStringLiteral("depot")},
        {SettingsKey::DestIp, QStringLiteral("10.20.30.40")},
        {SettingsKey::DestPort, QStringLiteral("4321")},
    };
    return composeSettings(values).join(QStringLiteral("\r\n")).toUtf8();
}

} // namespace OldModem
