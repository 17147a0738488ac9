#include "pglink.h"

#include <QSocketNotifier>
#include <libpq-fe.h>
#include <vector>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <poll.h>
#endif

namespace {

constexpr int tickMs = 50; // a socket event missed by the platform is found this soon

// The server's notices ("already exists, skipping") are nobody's business here.
void ignoreNotice(void *, const char *) {}

QString firstLine(const QString &text)
{
    return text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
}

// Whether the socket is ready the way libpq asked, asked of the system
// without waiting: a notification the platform never gives (a refused connect
// under Wine) is found this way, and libpq is never polled before it may be.
bool socketReady(int socket, bool forWrite)
{
#ifdef Q_OS_WIN
    fd_set wanted;
    fd_set failed;
    FD_ZERO(&wanted);
    FD_ZERO(&failed);
    FD_SET(SOCKET(socket), &wanted);
    FD_SET(SOCKET(socket), &failed);
    timeval now{0, 0};
    return select(0, forWrite ? nullptr : &wanted, forWrite ? &wanted : nullptr, &failed, &now) > 0;
#else
    pollfd entry{socket, short(forWrite ? POLLOUT : POLLIN), 0};
    return poll(&entry, 1, 0) > 0;
#endif
}

} // namespace

PgLink::PgLink(const QString &conninfo, const FleetTiming &timing, QObject *parent)
    : QObject(parent), mConninfo(conninfo), mTiming(timing), mTimerLimit(this), mTimerTick(this)
{
    // The timers are the link's children so they move to its thread with it:
    // a timer left on the thread that made the link never fires.
    mTimerLimit.setSingleShot(true);
    connect(&mTimerLimit, &QTimer::timeout, this, [this] {
        const auto limit =
            mState == State::Connecting ? mTiming.connectLimit : mListWork.constFirst().limit;
        fail(QStringLiteral("сервер не ответил за %1 с").arg(double(limit.count()) / 1000.0));
    });
    mTimerTick.setInterval(tickMs);
    connect(&mTimerTick, &QTimer::timeout, this, [this] {
        if (mState == State::Busy ||
            (mState == State::Connecting && socketReady(mSocket, mConnectWantsWrite)))
            slot_socket_activated();
    });
}

PgLink::~PgLink()
{
    dropConnection();
}

QString PgLink::conninfoFault(const QString &conninfo)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (!options) {
        const QString text = error ? QString::fromUtf8(error) : QString();
        PQfreemem(error);
        return QStringLiteral("Строка подключения к базе не читается: %1").arg(firstLine(text));
    }
    QString fault;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            fault = QStringLiteral("Пароль в строке подключения к базе не указывают: его "
                                   "берут из файла .pgpass, переменной PGPASSWORD или файла "
                                   "службы");
    }
    PQconninfoFree(options);
    return fault;
}

QString PgLink::reason(const QString &libpqMessage)
{
    static const QList<QPair<QString, QString>> known = {
        {QStringLiteral("password authentication failed"),
         QStringLiteral("сервер не принял пароль пользователя")},
        {QStringLiteral("no password supplied"),
         QStringLiteral("сервер просит пароль: задайте его в .pgpass или PGPASSWORD")},
        {QStringLiteral("Connection refused"), QStringLiteral("сервер не принимает соединения")},
        {QStringLiteral("could not translate host name"),
         QStringLiteral("адрес сервера не найден")},
        {QStringLiteral("does not exist"), QStringLiteral("на сервере нет такой базы или роли")},
        {QStringLiteral("timed out"), QStringLiteral("сервер не отвечает")},
        {QStringLiteral("closed the connection"), QStringLiteral("связь с сервером прервалась")},
        {QStringLiteral("terminating connection"), QStringLiteral("связь с сервером прервалась")},
        {QStringLiteral("connection to server was lost"),
         QStringLiteral("связь с сервером прервалась")},
        {QStringLiteral("permission denied"), QStringLiteral("нет прав")},
        {QStringLiteral("SSL"), QStringLiteral("защищённое соединение не установлено")},
    };
    const QString line = firstLine(libpqMessage);
    for (const auto &pair : known) {
        if (line.contains(pair.first, Qt::CaseInsensitive))
            return QStringLiteral("%1 (%2)").arg(pair.second, line);
    }
    return QStringLiteral("ошибка базы данных (%1)").arg(line);
}

void PgLink::run(const QList<Statement> &statements, std::chrono::milliseconds limit, Done done)
{
    Work work;
    work.limit = limit;
    work.done = std::move(done);
    if (statements.size() > 1)
        work.statements << Statement{"BEGIN", {}};
    work.statements << statements;
    if (statements.size() > 1)
        work.statements << Statement{"COMMIT", {}};
    mListWork << work;
    startNext();
}

void PgLink::startNext()
{
    if (mState == State::Closed && !mListWork.isEmpty()) {
        startConnecting();
        return;
    }
    if (mState != State::Ready || mListWork.isEmpty())
        return;
    if (mRollbackNeeded) {
        mRollbackNeeded = false;
        Work rollback;
        rollback.statements << Statement{"ROLLBACK", {}};
        rollback.limit = mTiming.recordLimit;
        mListWork.prepend(rollback);
    }
    mState = State::Busy;
    mTimerLimit.start(int(mListWork.constFirst().limit.count()));
    mTimerTick.start();
    if (!sendCurrent())
        fail(reason(QString::fromUtf8(PQerrorMessage(mConn))));
}

void PgLink::startConnecting()
{
    // The bench's defaults come first, so the conninfo's own values win.
    const QByteArray conninfo = mConninfo.toUtf8();
    const char *keywords[] = {"application_name", "keepalives_idle", "keepalives_interval",
                              "keepalives_count", "dbname",          nullptr};
    const char *values[] = {"lorta-flash", "10", "5", "3", conninfo.constData(), nullptr};
    mConn = PQconnectStartParams(keywords, values, 1);
    if (!mConn || PQstatus(mConn) == CONNECTION_BAD) {
        fail(mConn ? reason(QString::fromUtf8(PQerrorMessage(mConn)))
                   : QStringLiteral("нет памяти для соединения с базой"));
        return;
    }
    PQsetNoticeProcessor(mConn, ignoreNotice, nullptr);
    mState = State::Connecting;
    mTimerLimit.start(int(mTiming.connectLimit.count()));
    mTimerTick.start();
    watchSocket();
    mConnectWantsWrite = true; // libpq's first poll is as after a "writing" answer
    if (mNotifierWrite)
        mNotifierWrite->setEnabled(true);
}

void PgLink::watchSocket()
{
    const int socket = PQsocket(mConn);
    if (socket == mSocket && mNotifierRead)
        return;
    dropNotifiers();
    mSocket = socket;
    if (socket < 0)
        return;
    mNotifierRead = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    mNotifierWrite = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    mNotifierWrite->setEnabled(false);
    connect(mNotifierRead, &QSocketNotifier::activated, this, &PgLink::slot_socket_activated);
    connect(mNotifierWrite, &QSocketNotifier::activated, this, &PgLink::slot_socket_activated);
}

void PgLink::slot_socket_activated()
{
    if (mState == State::Connecting)
        pollConnecting();
    else if (mState == State::Busy)
        readResults();
}

void PgLink::pollConnecting()
{
    const PostgresPollingStatusType status = PQconnectPoll(mConn);
    if (status == PGRES_POLLING_FAILED) {
        fail(reason(QString::fromUtf8(PQerrorMessage(mConn))));
        return;
    }
    watchSocket();
    if (!mNotifierRead)
        return;
    mConnectWantsWrite = status == PGRES_POLLING_WRITING;
    mNotifierRead->setEnabled(status != PGRES_POLLING_WRITING);
    mNotifierWrite->setEnabled(status == PGRES_POLLING_WRITING);
    if (status != PGRES_POLLING_OK)
        return;
    PQsetnonblocking(mConn, 1);
    mNotifierRead->setEnabled(true);
    mNotifierWrite->setEnabled(false);
    mTimerLimit.stop();
    mTimerTick.stop();
    mState = State::Ready;
    emit signal_connected();
    startNext();
}

bool PgLink::sendCurrent()
{
    const Work &work = mListWork.constFirst();
    const Statement &statement = work.statements.at(work.next);
    std::vector<const char *> values;
    std::vector<int> lengths;
    std::vector<int> formats(size_t(statement.params.size()), 0);
    for (const QByteArray &param : statement.params) {
        values.push_back(param.isNull() ? nullptr : param.constData());
        lengths.push_back(param.size());
    }
    mAnswerStatement = Answer();
    mAnswerStatement.ok = true;
    if (!PQsendQueryParams(mConn, statement.sql.constData(), int(values.size()), nullptr,
                           values.data(), lengths.data(), formats.data(), 0))
        return false;
    const int flushed = PQflush(mConn);
    if (flushed < 0)
        return false;
    mNotifierWrite->setEnabled(flushed == 1);
    return true;
}

void PgLink::readResults()
{
    if (PQflush(mConn) == 0)
        mNotifierWrite->setEnabled(false);
    if (!PQconsumeInput(mConn)) {
        fail(reason(QString::fromUtf8(PQerrorMessage(mConn))));
        return;
    }
    // A statement's answer may come over several reads: it is kept until its end.
    Answer &answer = mAnswerStatement;
    while (!PQisBusy(mConn)) {
        PGresult *result = PQgetResult(mConn);
        if (!result) {
            finishStatement(answer);
            return;
        }
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_TUPLES_OK) {
            for (int row = 0; row < PQntuples(result); ++row) {
                QStringList fields;
                for (int field = 0; field < PQnfields(result); ++field)
                    fields << (PQgetisnull(result, row, field)
                                   ? QString()
                                   : QString::fromUtf8(PQgetvalue(result, row, field)));
                answer.rows << fields;
            }
        } else if (status != PGRES_COMMAND_OK && answer.ok) {
            answer.ok = false;
            answer.sqlState = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            answer.error = reason(QString::fromUtf8(PQresultErrorMessage(result)));
        }
        PQclear(result);
    }
    if (PQstatus(mConn) == CONNECTION_BAD)
        fail(reason(QString::fromUtf8(PQerrorMessage(mConn))));
}

void PgLink::finishStatement(const Answer statementAnswer)
{
    Work &work = mListWork.first();
    const QByteArray sql = work.statements.at(work.next).sql;
    if (sql != "BEGIN" && sql != "COMMIT")
        work.answer.rows = statementAnswer.rows;
    work.answer.ok = statementAnswer.ok;
    work.answer.error = statementAnswer.error;
    work.answer.sqlState = statementAnswer.sqlState;
    ++work.next;
    if (statementAnswer.ok && work.next < work.statements.size()) {
        if (!sendCurrent())
            fail(reason(QString::fromUtf8(PQerrorMessage(mConn))));
        return;
    }
    // A transaction that failed half-way is rolled back before anything else runs.
    mRollbackNeeded = !statementAnswer.ok && work.statements.size() > 1 && sql != "BEGIN";
    const Work done = mListWork.takeFirst();
    mTimerLimit.stop();
    mTimerTick.stop();
    mState = State::Ready;
    if (done.done)
        done.done(done.answer);
    startNext();
}

void PgLink::fail(const QString &reason)
{
    dropConnection();
    const QList<Work> failed = mListWork;
    mListWork.clear();
    Answer answer;
    answer.error = reason;
    emit signal_lost(reason);
    for (const Work &work : failed) {
        if (work.done)
            work.done(answer);
    }
}

// Possibly inside a notifier's own signal: it goes once the signal is over.
void PgLink::dropNotifiers()
{
    for (QSocketNotifier *notifier : {mNotifierRead, mNotifierWrite}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    mNotifierRead = nullptr;
    mNotifierWrite = nullptr;
}

void PgLink::dropConnection()
{
    mTimerLimit.stop();
    mTimerTick.stop();
    dropNotifiers();
    mSocket = -1;
    if (mConn)
        PQfinish(mConn);
    mConn = nullptr;
    mState = State::Closed;
    mRollbackNeeded = false;
}
