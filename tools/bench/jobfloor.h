#pragma once

#include "protocol/timing.h"

#include <QByteArray>
#include <QList>

// The floors a job's duration is measured against, from the command lines the
// modem received: the design floor adds the start delay and every command's
// answer wait (and a file's bytes wait) of the timing; the line floor is the
// time the bytes need on a 9600 bit/s 8N1 line (ten bits a byte).
struct JobFloor
{
    double designMs = 0;
    double lineMs = 0;

    static JobFloor of(const QList<QByteArray> &commands, qint64 dataBytes, qint64 answerBytes,
                       const Timing &timing);
};
