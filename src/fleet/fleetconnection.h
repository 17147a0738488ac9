#pragma once

#include "pglink.h"

#include <QObject>
#include <QThread>

// A connection to the floor's server on a thread of its own: libpq may wait
// for a host name to resolve, and even that must not stall the event loop the
// bench runs on. Work is handed over, and each answer comes back on this
// object's thread, to a context that may be gone by then.
class FleetConnection : public QObject
{
    Q_OBJECT

public:
    FleetConnection(const QString &conninfo, const FleetTiming &timing, QObject *parent = nullptr);
    ~FleetConnection() override;

    // done runs on this object's thread, not at all once context is gone.
    void run(const QList<PgLink::Statement> &statements, std::chrono::milliseconds limit,
             QObject *context, PgLink::Done done);
    void run(const PgLink::Statement &statement, std::chrono::milliseconds limit, QObject *context,
             PgLink::Done done)
    {
        run(QList<PgLink::Statement>{statement}, limit, context, std::move(done));
    }
    const FleetTiming &timing() const { return mTiming; }

signals:
    void signal_connected();
    void signal_lost(QString reason);

private:
    FleetTiming mTiming;
    QThread mThread;
    PgLink *mLink; // lives on mThread, deleted there when it ends
};
