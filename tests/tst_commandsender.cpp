#include "serial/commandsender.h"
#include "serial/presencecounter.h"

#include <QtTest>

// A stand-in for the worker's hand-over slot: it takes a command only while
// it holds none, like the real one, and lets the test say when it is free.
struct FakeSlot
{
    bool busy = false;
    QList<QByteArray> written;
    bool handOver(const QByteArray &command, int)
    {
        if (busy)
            return false;
        written << command;
        busy = true;
        return true;
    }
};

class TestCommandSender : public QObject
{
    Q_OBJECT

private slots:
    void presenceRule();
    void refusedJobCommandIsRetriedInOrderAndOnce();
    void refusedPresenceCommandIsDropped();
    void cancelStopsRetry();
    void answersOlderThanTheOperationAreStale();
};

void TestCommandSender::presenceRule()
{
    PresenceCounter counter;
    for (int i = 1; i <= 4; ++i) {
        counter.count(true);
        QVERIFY(!counter.connected());
    }
    counter.count(true);
    QVERIFY(counter.connected());
    for (int i = 0; i < 20; ++i)
        counter.count(true);
    QCOMPARE(counter.value(), 10);
    counter.count(false);
    QCOMPARE(counter.value(), 0);
    for (int i = 0; i < 4; ++i)
        counter.count(true);
    QVERIFY(!counter.connected());
}

void TestCommandSender::refusedJobCommandIsRetriedInOrderAndOnce()
{
    FakeSlot slot;
    CommandSender sender([&slot](const QByteArray &c, int w) { return slot.handOver(c, w); });
    QSignalSpy handed(&sender, &CommandSender::signal_handedOver);
    slot.busy = true;
    sender.send("first\r", 250, CommandSender::Delivery::Guaranteed);
    sender.send("second\r", 250, CommandSender::Delivery::Guaranteed);
    QVERIFY(sender.isRetrying());
    QVERIFY(slot.written.isEmpty());

    slot.busy = false;
    QTRY_COMPARE(slot.written, QList<QByteArray>{"first\r"});
    slot.busy = false;
    QTRY_COMPARE(slot.written, (QList<QByteArray>{"first\r", "second\r"}));
    QTRY_VERIFY(!sender.isRetrying());
    QCOMPARE(handed.count(), 2);
}

void TestCommandSender::refusedPresenceCommandIsDropped()
{
    FakeSlot slot;
    CommandSender sender([&slot](const QByteArray &c, int w) { return slot.handOver(c, w); });
    slot.busy = true;
    sender.send("ate0\r", 250, CommandSender::Delivery::Droppable);
    QVERIFY(!sender.isRetrying());
    // While a job command waits, a presence command must not overtake it.
    sender.send("job\r", 250, CommandSender::Delivery::Guaranteed);
    slot.busy = false;
    sender.send("ate0\r", 250, CommandSender::Delivery::Droppable);
    QVERIFY(slot.written.isEmpty());
    QTRY_COMPARE(slot.written, QList<QByteArray>{"job\r"});
}

void TestCommandSender::cancelStopsRetry()
{
    FakeSlot slot;
    CommandSender sender([&slot](const QByteArray &c, int w) { return slot.handOver(c, w); });
    slot.busy = true;
    sender.send("abandoned\r", 250, CommandSender::Delivery::Guaranteed);
    sender.cancel();
    slot.busy = false;
    QTest::qWait(50); // several retry intervals: nothing may be written
    QVERIFY(slot.written.isEmpty());
}

void TestCommandSender::answersOlderThanTheOperationAreStale()
{
    FakeSlot slot;
    CommandSender sender([&slot](const QByteArray &c, int w) { return slot.handOver(c, w); });
    sender.send("ate0\r", 250, CommandSender::Delivery::Droppable); // taken: answer 1 owed

    // A job starts while the presence command is still being answered.
    sender.beginOperation();
    sender.send("at#escript=\"\"\r", 250, CommandSender::Delivery::Guaranteed);
    QVERIFY(sender.isRetrying());
    QVERIFY(!sender.takeAnswer()); // answer to "ate0": not the job's
    slot.busy = false;
    QTRY_VERIFY(!sender.isRetrying());
    QVERIFY(sender.takeAnswer()); // answer to the job's first command

    // Same race, but the job's command is taken before the old answer is handled.
    slot.busy = false;
    sender.send("ate0\r", 250, CommandSender::Delivery::Droppable);
    sender.beginOperation();
    slot.busy = false;
    sender.send("at#escript=\"\"\r", 250, CommandSender::Delivery::Guaranteed);
    QVERIFY(!sender.takeAnswer());
    QVERIFY(sender.takeAnswer());
}

QTEST_GUILESS_MAIN(TestCommandSender)
#include "tst_commandsender.moc"
