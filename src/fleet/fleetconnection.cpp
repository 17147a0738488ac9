#include "fleetconnection.h"

#include <QPointer>

FleetConnection::FleetConnection(const QString &conninfo, const FleetTiming &timing,
                                 QObject *parent)
    : QObject(parent), mTiming(timing), mLink(new PgLink(conninfo, timing))
{
    mThread.setObjectName(QStringLiteral("lorta-fleet"));
    mLink->moveToThread(&mThread);
    connect(&mThread, &QThread::finished, mLink, &QObject::deleteLater);
    connect(mLink, &PgLink::signal_connected, this, &FleetConnection::signal_connected);
    connect(mLink, &PgLink::signal_lost, this, &FleetConnection::signal_lost);
    mThread.start();
}

FleetConnection::~FleetConnection()
{
    mThread.quit();
    mThread.wait();
}

void FleetConnection::run(const QList<PgLink::Statement> &statements,
                          std::chrono::milliseconds limit, QObject *context, PgLink::Done done)
{
    PgLink *link = mLink;
    QPointer<QObject> receiver(context);
    QPointer<FleetConnection> self(this);
    QMetaObject::invokeMethod(
        link,
        [link, statements, limit, receiver, self, done] {
            link->run(statements, limit, [receiver, self, done](const PgLink::Answer &answer) {
                // Posted to this object, whose thread the receiver shares:
                // checked there, where it cannot go away meanwhile.
                if (!self)
                    return;
                QMetaObject::invokeMethod(
                    self.data(),
                    [receiver, done, answer] {
                        if (receiver)
                            done(answer);
                    },
                    Qt::QueuedConnection);
            });
        },
        Qt::QueuedConnection);
}
