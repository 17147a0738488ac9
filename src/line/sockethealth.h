#pragma once

#include "journalrecord.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Whether each socket of the line is fit to take modems. A socket whose last
// N results were failures of its own kind ("ошибка", "не отвечает", "порт не
// открылся") on N different modems is taken out of service: one modem failing
// again and again is that modem's fault, several in a row point at the cable
// or the hub's port. A modem without an IMEI counts as one of its own each
// time, since nothing tells it from the others. "Модем отключён", "уже прошит"
// and "прервано" say nothing about the socket: they neither count nor break
// the row; a success ends it. A socket stays out of service until it is
// re-enabled, which starts its row afresh.
class SocketHealth
{
public:
    // Today's results of the socket's own kind.
    struct Today
    {
        int succeeded = 0;
        int failed = 0;
        int failuresInRow = 0;
    };

    // limit: the failures in a row on different modems that take a socket
    // out of service; 0 takes none out.
    explicit SocketHealth(int limit);
    int limit() const { return mLimit; }

    // Counts one modem's result; true when it has just taken the socket out of service.
    bool count(int socket, JournalRecord::Result result, const QString &imei);
    bool isDisabled(int socket) const;
    // "Гнездо N отключено: 3 ошибки подряд на разных модемах — …", or empty while in service.
    QString disabledReason(int socket) const;
    void reenable(int socket);
    Today today(int socket) const;

    // Forgets everything and counts today's journal lines again, in order.
    // A restart is how the command line re-enables a socket, so every socket
    // is in service afterwards: a "гнездо отключено" line, and a row that
    // reached the limit without one (a run stopped before it was written),
    // end the row as a re-enable would.
    void restore(const QList<JournalRecord> &records);

    static QString reasonText(int socket, int failures);
    // "Гнездо 2 сегодня: успешно 5, ошибок 3, подряд 2": is this socket bad?
    QString todayText(int socket) const;

private:
    struct Socket
    {
        Today today;
        QStringList imeisInRow; // the row's last failures' IMEIs, at most the limit
        bool disabled = false;
    };
    void countFailure(Socket &socket, const QString &imei);
    bool rowOnDifferentModems(const Socket &socket) const;

    int mLimit = 0;
    QHash<int, Socket> mHashSockets;
};
