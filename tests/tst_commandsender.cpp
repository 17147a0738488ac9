#include "serial/commandsender.h"
#include "session/presencecounter.h"

#include <QtTest>

// A stand-in for the worker's hand-over slot: it takes a command only while
// it holds none, like the real one, and lets the test say when it is free.
struct FakeSlot
{
    bool busy = false;
    int tries = 0;
    QList<QByteArray> written;
    CommandSender::HandOver handOver()
    {
        return [this](const QByteArray &command, int) {
            ++tries;
            if (busy)
                return false;
            written << command;
            return busy = true;
        };
    }
};

class TestCommandSender : public QObject
{
    Q_OBJECT

private slots:
    void presenceRule();
    void refusedCommands();
    void answersOlderThanTheOperationAreStale();
};

// Five answers with "OK" in a row connect; one without starts over, and so does a new port.
void TestCommandSender::presenceRule()
{
    PresenceCounter counter(5);
    for (int i = 1; i <= 20; ++i) {
        counter.count(i != 3);
        QCOMPARE(counter.connected(), i >= 8);
    }
    QCOMPARE(counter.value(), 10);
    counter.reset();
    QVERIFY(!counter.connected() && counter.value() == 0);
}

// A refused job command is retried in order and handed over once; a refused presence
// command is dropped, and never overtakes a job command that waits. A cancelled command
// never reaches the modem, not even ahead of the next operation's.
void TestCommandSender::refusedCommands()
{
    FakeSlot slot;
    slot.busy = true;
    CommandSender sender(slot.handOver(), Timing::Ms(5));
    QSignalSpy handed(&sender, &CommandSender::signal_handedOver);
    sender.send("ate0\r", 250, CommandSender::Delivery::Droppable);
    QVERIFY(!sender.isRetrying());
    sender.send("first\r", 250, CommandSender::Delivery::Guaranteed);
    sender.send("second\r", 250, CommandSender::Delivery::Guaranteed);
    // Waiting for a busy worker must not spin the GUI thread: a few tries per 5 ms at most.
    QTest::qWait(100);
    QVERIFY2(slot.tries < 200, qPrintable(QString::number(slot.tries)));
    slot.busy = false;
    sender.send("ate0\r", 250, CommandSender::Delivery::Droppable);
    QVERIFY(sender.isRetrying() && slot.written.isEmpty());
    QTRY_COMPARE(slot.written, QList<QByteArray>{"first\r"});
    slot.busy = false;
    QTRY_COMPARE(slot.written, (QList<QByteArray>{"first\r", "second\r"}));
    QVERIFY(!sender.isRetrying() && handed.count() == 2);
    sender.send("abandoned\r", 250, CommandSender::Delivery::Guaranteed);
    sender.cancel();
    QVERIFY(!sender.isRetrying());
    slot.busy = false;
    sender.send("next\r", 250, CommandSender::Delivery::Guaranteed);
    QCOMPARE(slot.written.mid(2), QList<QByteArray>{"next\r"});
}

// The worker answers every command it took once and in order; an answer that arrives before
// the operation's first command was taken belongs to an older command. A new port session
// starts counting afresh, whatever the last one left unanswered, and drops the commands that
// wait.
void TestCommandSender::answersOlderThanTheOperationAreStale()
{
    FakeSlot slot;
    slot.busy = true;
    CommandSender sender(slot.handOver(), Timing::Ms(5));
    sender.send("abandoned\r", 250, CommandSender::Delivery::Guaranteed);
    const auto presence = [&] {
        slot.busy = false;
        sender.send("ate0\r", 250, CommandSender::Delivery::Droppable);
    };
    for (int session = 0; session < 2; ++session) {
        sender.resetSession();
        presence();
        QVERIFY(sender.takeAnswer());
        // A job starts while the presence command is still being answered; its command is
        // taken after the old answer is handled, or before.
        for (const bool takenFirst : {false, true}) {
            presence();
            sender.beginOperation();
            slot.busy = !takenFirst;
            sender.send("at#escript=\"\"\r", 250, CommandSender::Delivery::Guaranteed);
            QVERIFY(!sender.takeAnswer()); // the answer to "ate0"
            slot.busy = false;
            QTRY_VERIFY(!sender.isRetrying());
            QVERIFY(sender.takeAnswer()); // the answer to the job's first command
        }
        presence(); // the port closes before this command is answered
    }
    QVERIFY(!slot.written.contains("abandoned\r"));
}

QTEST_GUILESS_MAIN(TestCommandSender)
#include "tst_commandsender.moc"
