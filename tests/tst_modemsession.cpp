// The modem session without any widget: its own worker against the simulated
// modem on a pseudo-terminal, driven and observed through its calls and signals,
// on the fast timing.
#include "modemsim.h"
#include "protocol/tooltexts.h"
#include "session/modemsession.h"
#include "testtiming.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
constexpr int linkTimeout = 10000;
// Longer than the start delay or a presence command's answer wait, with room to spare.
constexpr int quietMs = TestSupport::fastMs(600);
const QByteArray modemSettings = "APN::modem.apn::Точка входа GPRS";

QStringList withoutStamps(const QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &arguments : spy)
        lines << arguments.at(0).toString().mid(15);
    return lines;
}
} // namespace

class TestModemSession : public QObject
{
    Q_OBJECT

private slots:
    void jobEndWaitsForTheFrontEnd();
};

// A read stores the modem's file where the front end said, reports its end, and
// then sends nothing until the front end lets the presence check resume; a
// close reports the port closed and silences the modem for good.
void TestModemSession::jobEndWaitsForTheFrontEnd()
{
    QTemporaryDir dir;
    ModemSim sim;
    sim.setTimeScale(TestSupport::fastScale);
    sim.setPaced(false);
    sim.setFile("settings.ini", modemSettings);
    QVERIFY(sim.start());
    ModemSession session(TestSupport::fastTiming());
    const QString target = dir.filePath(QStringLiteral("copy.ini"));
    session.setReadTarget(target);
    QSignalSpy log(&session, &ModemSession::signal_logLine);
    QSignalSpy presence(&session, &ModemSession::signal_presence);
    QSignalSpy ended(&session, &ModemSession::signal_jobEnded);
    QSignalSpy closed(&session, &ModemSession::signal_portClosed);

    session.openPort(sim.portName(), 9600);
    QTRY_VERIFY_WITH_TIMEOUT(!presence.isEmpty() && presence.last().at(0).toBool(), linkTimeout);
    // Connected with the fifth answer, not before (more may have come since).
    QVERIFY(presence.size() >= 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(presence.at(i).at(0).toBool(), i == 4);
    session.startJob(OperationType::ReadSettings);
    QTRY_VERIFY_WITH_TIMEOUT(!ended.isEmpty(), linkTimeout);
    QCOMPARE(ended.first(), (QList<QVariant>{QVariant::fromValue(OperationType::ReadSettings), true,
                                             ToolText::settingsRead(), true}));
    QFile copy(target);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), modemSettings);
    QCOMPARE(withoutStamps(log), (QStringList{ToolText::portOpened(), ToolText::connected(),
                                              ToolText::readStarted(), ToolText::settingsRead()}));

    const int commandsAtEnd = sim.commands().size();
    QTest::qWait(quietMs);
    QCOMPARE(sim.commands().size(), commandsAtEnd);
    session.resumePresenceCheck();
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().size() > commandsAtEnd, linkTimeout);
    QCOMPARE(sim.commands().constLast(), QByteArray("ate0"));

    session.closePort();
    QCOMPARE(closed.size(), 1);
    QVERIFY(!session.isPortOpen());
    QCOMPARE(withoutStamps(log).constLast(), ToolText::portClosed());
    const int commandsAtClose = sim.commands().size();
    QTest::qWait(quietMs);
    QCOMPARE(sim.commands().size(), commandsAtClose);
}

QTEST_MAIN(TestModemSession)
#include "tst_modemsession.moc"
