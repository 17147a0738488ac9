#pragma once

#include "journalrecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// How a socket's states and verdicts are worded, on the bench window's tiles
// and in the flasher's live lines alike.
namespace SocketText {

// Ports left alone because they were there at the start, and how to take them.
inline QString presentSkipped(const QStringList &ports, const QString &howToTake)
{
    return QStringLiteral("Пропущены уже подключённые порты: ") + ports.join(QStringLiteral(", ")) +
           QStringLiteral(" — ") + howToTake;
}

inline QString empty()
{
    return QStringLiteral("Свободно");
}
inline QString opening()
{
    return QStringLiteral("Открываем порт");
}
inline QString waiting()
{
    return QStringLiteral("Ждём модем");
}
// The modem answered; its IMEI is being read.
inline QString identifying()
{
    return QStringLiteral("Связь…");
}
inline QString openFailed()
{
    return QStringLiteral("Порт не открылся");
}
inline QString closing()
{
    return QStringLiteral("Закрываем порт");
}
// Bytes, but no answers: a modem whose script runs, or one at a wrong speed.
inline QString scriptRunning(const QString &version)
{
    return QStringLiteral("Выполняется скрипт ") + version +
           QStringLiteral(": модем уже прошит? Чтобы прошить его здесь, выключите и включите "
                          "питание");
}
inline QString notAnswering(const QString &heard)
{
    return QStringLiteral("Модем не отвечает (получено: ") + heard + QLatin1Char(')');
}

// The modem answering is the one prepared successfully in this socket at that time.
inline QString flashedHere(const QDateTime &time)
{
    return QStringLiteral("Уже прошит здесь в ") + time.toString(QStringLiteral("hh:mm"));
}

// No job and no verdict: the watch has stopped taking modems.
inline QString stopped()
{
    return QStringLiteral("Остановлено");
}

// What a job's end says to the operator at the socket.
inline QString verdict(const JournalRecord &record)
{
    switch (record.result) {
    case JournalRecord::Result::Success:
        return QStringLiteral("Готово — снимите модем");
    case JournalRecord::Result::Unplugged:
        return QStringLiteral("Модем отключён во время прошивки");
    case JournalRecord::Result::Interrupted:
        return QStringLiteral("Прервано: ") + record.step;
    case JournalRecord::Result::OpenFailed:
        return openFailed();
    case JournalRecord::Result::NoAnswer:
        return QStringLiteral("Не отвечает: ") + record.text;
    case JournalRecord::Result::AlreadyFlashed:
        return QStringLiteral("Уже прошит: ") + record.text +
               QStringLiteral(" — снимите модем или выключите и включите питание");
    case JournalRecord::Result::SocketDisabled:
    case JournalRecord::Result::NoTableRow:
        return record.text; // the reason, with what to check
    case JournalRecord::Result::Failure:
        break;
    }
    QString reason = record.step;
    if (!record.text.isEmpty())
        reason += (reason.isEmpty() ? QString() : QStringLiteral(" — ")) + record.text;
    return QStringLiteral("Ошибка: ") + reason;
}

} // namespace SocketText
