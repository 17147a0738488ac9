#pragma once

#include "protocol/timing.h"

#include <QByteArray>
#include <QString>

// What a job decides after one answer: send the next command, or end.
// A success ends in an information box "Сообщение", a failure in a critical box "Ошибка".
struct JobAction
{
    enum class Kind
    {
        Send,
        Succeed,
        Fail
    };

    Kind kind = Kind::Send;
    QByteArray command;   // Send: bytes for sendCommand (a command or a file's bytes)
    QString fileName;     // Send: the file whose bytes these are; empty for a command
    int wait = 0;         // Send: answer wait in ms
    QString text;         // Succeed / Fail: the box text
    bool logText = false; // Succeed / Fail: log the text as a status line before the box

    static JobAction send(const QByteArray &command, Timing::Ms wait)
    {
        JobAction a;
        a.command = command;
        a.wait = msOf(wait);
        return a;
    }
    static JobAction sendFile(const QString &name, const QByteArray &bytes, Timing::Ms wait)
    {
        JobAction a = send(bytes, wait);
        a.fileName = name;
        return a;
    }
    static JobAction end(Kind kind, const QString &text, bool logText)
    {
        JobAction a;
        a.kind = kind;
        a.text = text;
        a.logText = logText;
        return a;
    }
    bool isEnd() const { return kind != Kind::Send; }
};
