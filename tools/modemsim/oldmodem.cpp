#include "oldmodem.h"

#include "modemsim.h"

#include <QStringList>

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
    const QStringList lines = {
        QStringLiteral("CRYPT_DATA::1::Шифровать данные (1 - вкл., 0 - выкл.)"),
        QStringLiteral("DEBUG_SER::0::Вывод отладочной информации в последовательный порт "
                       "(1 - вкл., 0 - выкл.)"),
        QStringLiteral("PIN::1234::PIN-код"),
        QStringLiteral("APN::depot.apn::Точка входа GPRS"),
        QStringLiteral("GPRS_USER::depot::Имя пользователя GPRS"),
        QStringLiteral("GPRS_PASSWD::depot::Пароль GPRS"),
        QStringLiteral("DEST_IP::10.20.30.40::Адрес назначения исходящего соединения"),
        QStringLiteral("DEST_PORT::4321::Порт назначения исходящего соединения"),
        QStringLiteral("SER_SP::38400::Скорость последовательного порта (бит/сек)"),
    };
    return lines.join(QStringLiteral("\r\n")).toUtf8();
}

void preload(ModemSim &sim)
{
    sim.setFile("main.pyo", script("main.pyo", 3000));
    sim.setFile("config.pyo", script("config.pyo", 700));
    sim.setFile("settings.ini", settings());
}

} // namespace OldModem
