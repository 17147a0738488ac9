#include "sockethealth.h"

#include <QSet>

namespace {
// "1 ошибка", "2 ошибки", "5 ошибок", "11 ошибок", "21 ошибка".
QString failuresText(int count)
{
    const int lastTwo = count % 100;
    const int last = count % 10;
    const char *word = "ошибок";
    if (last == 1 && lastTwo != 11)
        word = "ошибка";
    else if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14))
        word = "ошибки";
    return QString::number(count) + QLatin1Char(' ') + QString::fromUtf8(word);
}

// A result that may be the socket's fault rather than the modem's.
bool failureOfTheSocket(JournalRecord::Result result)
{
    switch (result) {
    case JournalRecord::Result::Failure:
    case JournalRecord::Result::NoAnswer:
    case JournalRecord::Result::OpenFailed:
        return true;
    case JournalRecord::Result::Success:
    case JournalRecord::Result::Interrupted:
    case JournalRecord::Result::Unplugged:
    case JournalRecord::Result::AlreadyFlashed:
    case JournalRecord::Result::SocketDisabled:
    case JournalRecord::Result::NoTableRow:
        break;
    }
    return false;
}
} // namespace

SocketHealth::SocketHealth(int limit) : mLimit(qMax(0, limit)) {}

bool SocketHealth::count(int socket, JournalRecord::Result result, const QString &imei)
{
    Socket &state = mHashSockets[socket];
    if (result == JournalRecord::Result::Success) {
        ++state.today.succeeded;
        state.today.failuresInRow = 0;
        state.imeisInRow.clear();
        return false;
    }
    if (!failureOfTheSocket(result))
        return false;
    countFailure(state, imei);
    if (state.disabled || mLimit == 0 || !rowOnDifferentModems(state))
        return false;
    state.disabled = true;
    return true;
}

void SocketHealth::countFailure(Socket &socket, const QString &imei)
{
    ++socket.today.failed;
    ++socket.today.failuresInRow;
    socket.imeisInRow.append(imei);
    while (socket.imeisInRow.size() > mLimit)
        socket.imeisInRow.removeFirst();
}

// The last limit failures came from as many modems: no IMEI twice among them
// (an empty one is a modem of its own).
bool SocketHealth::rowOnDifferentModems(const Socket &socket) const
{
    if (socket.imeisInRow.size() < mLimit)
        return false;
    QSet<QString> seen;
    for (const QString &imei : socket.imeisInRow) {
        if (imei.isEmpty())
            continue;
        if (seen.contains(imei))
            return false;
        seen.insert(imei);
    }
    return true;
}

bool SocketHealth::isDisabled(int socket) const
{
    return mHashSockets.value(socket).disabled;
}

QString SocketHealth::disabledReason(int socket) const
{
    return isDisabled(socket) ? reasonText(socket, mLimit) : QString();
}

void SocketHealth::reenable(int socket)
{
    const auto found = mHashSockets.find(socket);
    if (found == mHashSockets.end())
        return;
    found->disabled = false;
    found->today.failuresInRow = 0;
    found->imeisInRow.clear();
}

SocketHealth::Today SocketHealth::today(int socket) const
{
    return mHashSockets.value(socket).today;
}

void SocketHealth::restore(const QList<JournalRecord> &records)
{
    mHashSockets.clear();
    for (const JournalRecord &record : records) {
        if (record.result == JournalRecord::Result::SocketDisabled)
            reenable(record.socket);
        else
            count(record.socket, record.result, record.imei);
    }
    for (auto it = mHashSockets.begin(); it != mHashSockets.end(); ++it) {
        if (it->disabled)
            reenable(it.key());
    }
}

QString SocketHealth::todayText(int socket) const
{
    const Today counts = today(socket);
    QString text = QStringLiteral("Гнездо %1 сегодня: успешно %2, ошибок %3, подряд %4")
                       .arg(socket)
                       .arg(counts.succeeded)
                       .arg(counts.failed)
                       .arg(counts.failuresInRow);
    if (isDisabled(socket))
        text += QStringLiteral(" — отключено");
    return text;
}

QString SocketHealth::reasonText(int socket, int failures)
{
    return QStringLiteral("Гнездо ") + QString::number(socket) + QStringLiteral(" отключено: ") +
           failuresText(failures) +
           QStringLiteral(" подряд на разных модемах — проверьте кабель и порт хаба");
}
