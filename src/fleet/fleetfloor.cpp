#include "fleetfloor.h"

#include "fleetconnection.h"

#include <QTimer>
#include <memory>

FleetFloor::FleetFloor(const QString &conninfo, const FleetTiming &timing, QObject *parent)
    : QObject(parent), mConninfo(conninfo), mRecords(new FleetConnection(conninfo, timing, this)),
      mQueries(new FleetConnection(conninfo, timing, this)),
      mOutbox(new FleetOutbox(mRecords, this))
{
    connect(mOutbox, &FleetOutbox::signal_changed, this, &FleetFloor::signal_changed);
    connect(mOutbox, &FleetOutbox::signal_problem, this, &FleetFloor::signal_problem);
}

bool FleetFloor::open(const QString &journalFile, QString *error)
{
    const QString fault = PgLink::conninfoFault(mConninfo);
    if (!fault.isEmpty()) {
        *error = fault;
        return false;
    }
    return mOutbox->open(journalFile, error);
}

void FleetFloor::askPrepared(const QString &imei, QObject *context, PreparedDone done)
{
    const PgLink::Statement statement{
        "SELECT bench, extract(epoch FROM written_at)::bigint FROM lorta_record "
        "WHERE imei = $1 AND result = 'успех' AND job = 'flash' "
        "ORDER BY written_at DESC LIMIT 1",
        {imei.toUtf8()}};
    // The limit counts from the question, a connection still being made included.
    auto told = std::make_shared<bool>(false);
    const auto tell = [told, done](const Prepared &prepared) {
        if (!*told)
            done(prepared);
        *told = true;
    };
    const auto limit = mQueries->timing().checkLimit;
    QTimer::singleShot(limit, context, [tell, limit] {
        Prepared late;
        late.reason = QStringLiteral("сервер не ответил за %1 с").arg(double(limit.count()) / 1000);
        tell(late);
    });
    mQueries->run(statement, limit, context, [tell](const PgLink::Answer &answer) {
        Prepared prepared;
        prepared.answered = answer.ok;
        prepared.reason = answer.error;
        if (answer.ok && !answer.rows.isEmpty()) {
            prepared.bench = answer.rows.constFirst().value(0);
            prepared.time =
                QDateTime::fromSecsSinceEpoch(answer.rows.constFirst().value(1).toLongLong());
        }
        tell(prepared);
    });
}

QString FleetFloor::preparedWarning(const QString &imei, const Prepared &prepared)
{
    return QStringLiteral("Модем с IMEI %1 уже прошит: %2, %3")
        .arg(imei, prepared.bench, prepared.time.toString(QStringLiteral("dd.MM hh:mm")));
}

QString FleetFloor::localWarning(const QString &localText)
{
    return localText + QStringLiteral(" (база недоступна: проверено по журналу стенда)");
}
