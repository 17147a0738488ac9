// The production line end to end: "lorta-flash-cli watch" over a hand-filled
// port list whose entries point at simulated modems on pseudo-terminals, as
// adapters plugged into and pulled from the bench's USB positions. The watch
// and the modems run on the fast timing.
#include "cli/watchconsole.h"
#include "filesizelimit.h"
#include "line/journal.h"
#include "line/socketrun.h"
#include "modembench.h"
#include "modemsim.h"
#include "socketbench.h"
#include "testtiming.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>
#include <csignal>
#include <functional>
#include <memory>

using TestSupport::fastMs;
using TestSupport::schedulingSlackMs;

namespace {
constexpr int quietMs = fastMs(600);
const QByteArray imeiA = "490154203237518";
const QByteArray imeiB = "356938035643809";
const QByteArray imeiC = "352099001761481";

QByteArray resourceHash(const QString &name)
{
    QFile file(QStringLiteral(":/files/") + name);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// The watch's standard output, kept for the test and, with WATCH_ECHO set,
// shown as it comes.
class WatchOutput : public QBuffer
{
protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        if (qEnvironmentVariableIsSet("WATCH_ECHO"))
            fwrite(data, 1, size_t(size), stdout);
        return QBuffer::writeData(data, size);
    }
};

// Each case here ends in seconds at the scaled timing; this is far beyond any of them.
constexpr int watchLimitMs = 90000;

struct WatchResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
} // namespace

class TestWatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void twoSocketsFlashedAndJournaled();
    void pulledMidJobThenPluggedBackIntoTheSameSocket();
    void hungUpLineIsAPullBeforeThePortLeavesTheList();
    void fixedAdapterPreparesEachModemOnce();
    void modemBackAfterItLeft_data();
    void modemBackAfterItLeft();
    void socketFailingOnThreeModemsIsTakenOutOfService();
    void onlyNewMatchingAdaptersAreOpened();
    void interruptTwiceStopsEveryPort();
    void interruptWithNoJobRunningEndsAtOnce();
    void jobEndingAfterInterruptionIsCounted();
    void journalThatCannotBeWrittenStopsTheWatch();
    void modemsWithoutAJobAreRecorded();
    void failureSaysWhatTheModemDid_data();
    void failureSaysWhatTheModemDid();
    void modemLeavingBeforeItsVerdictIsRecorded();
    void journalReplacedDeletedOrEmptied_data();
    void journalReplacedDeletedOrEmptied();
    void numbersFileGivingANumberTwiceIsRefused();
    void sameImeiInTwoSocketsAtOnce();
    void journalOnAFullDisk();
    void heldSocketStartsItsJobOnlyWhenReleased();
    void settingsJournaledByNameAndHashBesideAnOlderJournal();

private:
    ModemSim *addModem(const QByteArray &imei, bool paced = false)
    {
        return mBench->addModem(imei, paced);
    }
    // A step: once this many journal lines are in, Ctrl+C as an operator would.
    std::function<bool()> interruptOnceJournaled(int lines)
    {
        return [this, lines] {
            if (journalLines().size() < lines)
                return false;
            ::raise(SIGINT);
            return true;
        };
    }
    // A step: once this many journal lines are in, the modem behind the port is
    // taken out and another put in (then prepared as `then` says).
    std::function<bool()> swapOnceJournaled(ModemSim *sim, int lines, const QByteArray &imei,
                                            std::function<void()> then = {})
    {
        return [this, sim, lines, imei, then] {
            if (journalLines().size() < lines)
                return false;
            sim->takeOut();
            QTest::qWait(quietMs); // a swap by hand leaves checks unanswered
            mBench->swapIn(sim, imei);
            if (then)
                then();
            return true;
        };
    }
    void plug(ModemSim *sim, const QString &location, quint16 pid = 0x6001)
    {
        mBench->plug(sim, location, pid);
    }
    void unplug(ModemSim *sim) { mBench->unplug(sim); }
    // Runs the watch; each step is called every few milliseconds until it
    // returns true, then the next one.
    WatchResult watch(const QStringList &arguments, QList<std::function<bool()>> steps = {});
    QList<QStringList> journalLines() const;
    // How often the watch's output has said this so far.
    int said(const QString &text) const { return QString::fromUtf8(mOut->data()).count(text); }

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<TestSupport::SocketBench> mBench;
    WatchOutput *mOut = nullptr; // while a watch runs
    QString mJournal;
    bool mTerminal = false; // the watch draws its live lines
};

void TestWatch::init()
{
    mDir = std::make_unique<QTemporaryDir>();
    mJournal = mDir->filePath(QStringLiteral("journal.csv"));
    mBench = std::make_unique<TestSupport::SocketBench>(TestSupport::fastScale);
    mTerminal = false;
}

void TestWatch::cleanup()
{
    mBench.reset();
    mDir.reset();
}

WatchResult TestWatch::watch(const QStringList &arguments, QList<std::function<bool()>> steps)
{
    QTimer poll;
    poll.setInterval(fastMs(100));
    bool inStep = false; // a step that waits must not be entered again meanwhile
    connect(&poll, &QTimer::timeout, this, [&steps, &inStep] {
        if (inStep || steps.isEmpty())
            return;
        inStep = true;
        if (steps.first()())
            steps.removeFirst();
        inStep = false;
    });
    poll.start();
    // A watch that never ends is stopped as Ctrl+C would, so the case fails
    // with what the watch said instead of hanging until the test's own limit.
    QTimer guard;
    guard.setSingleShot(true);
    guard.setInterval(watchLimitMs);
    bool stopped = false;
    connect(&guard, &QTimer::timeout, this, [&stopped] {
        stopped = true;
        ::raise(SIGINT);
        ::raise(SIGINT);
    });
    guard.start();
    WatchOutput out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    mOut = &out;
    WatchResult result;
    // A terminal has one screen: the events and the live lines go to the same place.
    result.exitCode = runWatch(arguments + QStringList{"--journal", mJournal}, &out,
                               mTerminal ? static_cast<QIODevice *>(&out) : &err, mTerminal,
                               TestSupport::fastTiming(), mBench->lister());
    mOut = nullptr;
    result.out = out.data();
    result.err = err.data();
    if (stopped) {
        result.exitCode = -1;
        result.err.prepend("the watch did not end within its limit; it said:\n" + result.out +
                           "\n");
    }
    return result;
}

QList<QStringList> TestWatch::journalLines() const
{
    QFile file(mJournal);
    file.open(QIODevice::ReadOnly);
    QList<QStringList> lines;
    const QList<QByteArray> raw = file.readAll().split('\n');
    for (int i = 1; i < raw.size(); ++i) {
        if (!raw.at(i).isEmpty())
            lines << Journal::splitLine(QString::fromUtf8(raw.at(i)).trimmed());
    }
    return lines;
}

// Two adapters plugged after the start, each at its USB position: each is
// flashed, journaled with its socket, IMEI and the hashes of what it got, and
// --count 2 ends the watch with 0.
void TestWatch::twoSocketsFlashedAndJournaled()
{
    ModemSim *first = addModem(imeiA);
    ModemSim *second = addModem(imeiB);
    const WatchResult result = watch({"flash", "--count", "2", "--json"}, {[&] {
                                         plug(first, QStringLiteral("1-1.4"));
                                         plug(second, QStringLiteral("1-1.2"));
                                         return true;
                                     }});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QVERIFY(first->hasFile("main.pyo") && second->hasFile("config.pyo"));
    QCOMPARE(first->commands().mid(0, 1), QList<QByteArray>{"ate0"});
    QVERIFY(first->commands().contains("at+cgsn"));
    // The IMEI is asked once, after the presence check and before the job.
    QCOMPARE(first->commands().count("at+cgsn"), 1);
    QVERIFY(first->commands().indexOf("at+cgsn") < first->commands().indexOf("at#escript=\"\""));

    const QList<QStringList> lines = journalLines();
    QCOMPARE(lines.size(), 2);
    QMap<QString, QStringList> byImei;
    for (const QStringList &line : lines)
        byImei.insert(line.at(Journal::ColumnImei), line);
    const QStringList a = byImei.value(QString::fromLatin1(imeiA));
    QCOMPARE(a.size(), int(Journal::ColumnCount));
    QVERIFY2(a.at(Journal::ColumnSocket) == QLatin1String("1") ||
                 a.at(Journal::ColumnSocket) == QLatin1String("2"),
             qPrintable(a.join(';')));
    QCOMPARE(a.at(Journal::ColumnBench), QSysInfo::machineHostName());
    QVERIFY(a.at(Journal::ColumnVersion).startsWith(QLatin1Char('v'))); // never a date
    // The modems kept their settings: none were sent.
    QCOMPARE(a.at(Journal::ColumnSettingsFile), QString());
    QCOMPARE(a.at(Journal::ColumnSettingsHash), QString());
    QCOMPARE(a.at(Journal::ColumnTableRow), QString()); // no table
    QCOMPARE(a.at(Journal::ColumnPort), mBench->ports().at(0).name);
    QCOMPARE(a.at(Journal::ColumnSerialNumber), QStringLiteral("FT1-1.4"));
    QCOMPARE(a.at(Journal::ColumnJob), QStringLiteral("flash"));
    QCOMPARE(a.at(Journal::ColumnResult), QStringLiteral("успех"));
    QCOMPARE(a.at(Journal::ColumnStep), QString());
    QCOMPARE(a.at(Journal::ColumnText), QStringLiteral("Модем прошит"));
    QCOMPARE(a.at(Journal::ColumnFileHashes), QString("main.pyo:" + resourceHash("main.pyo") +
                                                      " config.pyo:" + resourceHash("config.pyo")));
    QVERIFY(byImei.contains(QString::fromLatin1(imeiB)));
    QVERIFY(QDateTime::fromString(a.at(Journal::ColumnTime), "yyyy-MM-dd hh:mm:ss").isValid());
    QVERIFY(!QUuid::fromString(a.at(Journal::ColumnRecordId)).isNull());
    QVERIFY(a.at(Journal::ColumnRecordId) != byImei.value(imeiB).at(Journal::ColumnRecordId));

    // The numbers file keeps both positions.
    QFile numbers(mDir->filePath(QStringLiteral("journal.sockets")));
    QVERIFY(numbers.open(QIODevice::ReadOnly));
    QCOMPARE(numbers.readAll().count('\n'), 2);

    const QList<QByteArray> objects = result.out.trimmed().split('\n');
    QStringList events;
    QJsonObject summary;
    QStringList records; // the ids the job-ended events give, as in the journal
    for (const QByteArray &object : objects) {
        const QJsonObject parsed = QJsonDocument::fromJson(object).object();
        events << parsed.value("event").toString();
        if (events.last() == QLatin1String("summary"))
            summary = parsed;
        if (events.last() == QLatin1String("job-ended"))
            records << parsed.value("record").toString();
    }
    for (const char *event :
         {"socket-added", "connected", "imei", "progress", "job-ended", "summary"})
        QVERIFY2(events.contains(QLatin1String(event)), event);
    QVERIFY(records.contains(a.at(Journal::ColumnRecordId)));
    QVERIFY(result.err.contains("Итого: успешно 2, ошибок 0"));
    // The summary's totals, and each socket's day beside them.
    QCOMPARE(summary.value("succeeded").toInt(), 2);
    QCOMPARE(summary.value("failed").toInt(), 0);
    const QJsonArray sockets = summary.value("sockets").toArray();
    QCOMPARE(sockets.size(), 2);
    for (int i = 0; i < sockets.size(); ++i) {
        const QJsonObject socket = sockets.at(i).toObject();
        QCOMPARE(socket.value("socket").toInt(), i + 1);
        QCOMPARE(socket.value("succeeded").toInt(), 1);
        QCOMPARE(socket.value("failed").toInt(), 0);
        QCOMPARE(socket.value("last-failure").toString(), QString());
    }
}

// Pulled in the middle of main.pyo: "модем отключён" with the step, within a
// second. Plugged back at the same position under another port name: the same
// socket, a fresh job; with --again, a second success the same day warns of
// the duplicate.
void TestWatch::pulledMidJobThenPluggedBackIntoTheSameSocket()
{
    ModemSim *sim = addModem(imeiA, true);
    QElapsedTimer sincePull;
    qint64 pullMs = -1;
    const auto replug = [&] {
        sim->stop();
        sim->setPaced(false);
        sim->stopScript("reset"); // a flashed modem's script takes no commands
        if (!sim->start())
            return false;
        plug(sim, QStringLiteral("2-1"));
        return true;
    };
    const WatchResult result = watch({"flash", "--count", "2", "--again"},
                                     {[&] {
                                          plug(sim, QStringLiteral("2-1"));
                                          return true;
                                      },
                                      [&] {
                                          if (sim->dataBytesReceived() < 500)
                                              return false;
                                          sincePull.start();
                                          unplug(sim);
                                          sim->hangUp();
                                          return true;
                                      },
                                      [&] {
                                          if (journalLines().isEmpty())
                                              return false;
                                          if (pullMs < 0)
                                              pullMs = sincePull.elapsed();
                                          // The hang-up ends the job before the
                                          // listing: the port must be seen gone
                                          // before its name comes back.
                                          if (said(QStringLiteral("Модем вынут")) < 1)
                                              return false;
                                          return replug();
                                      },
                                      [&] {
                                          if (journalLines().size() < 2)
                                              return false;
                                          unplug(sim);
                                          return true;
                                      },
                                      [&] {
                                          // The watcher has seen it gone: a
                                          // pseudo-terminal may come back under the
                                          // same name.
                                          if (said(QStringLiteral("Модем вынут")) < 2)
                                              return false;
                                          return replug();
                                      }});
    QVERIFY2(result.exitCode == 1, result.out.constData()); // the pulled job counts as failed
    // Noticed by the twice-a-second listing and journaled within a second.
    QVERIFY2(pullMs >= 0 && pullMs < fastMs(1000) + schedulingSlackMs,
             qPrintable(QString::number(pullMs)));
    const QList<QStringList> lines = journalLines();
    QVERIFY2(lines.size() == 3, result.out.constData());
    QCOMPARE(lines.at(0).at(Journal::ColumnResult), QStringLiteral("модем отключён"));
    QCOMPARE(lines.at(0).at(Journal::ColumnStep), QStringLiteral("файл main.pyo"));
    QCOMPARE(lines.at(1).at(Journal::ColumnResult), QStringLiteral("успех"));
    QCOMPARE(lines.at(2).at(Journal::ColumnResult), QStringLiteral("успех"));
    for (const QStringList &line : lines) {
        QCOMPARE(line.at(Journal::ColumnSocket), QStringLiteral("1"));
        QCOMPARE(line.at(Journal::ColumnImei), QString::fromLatin1(imeiA));
    }
    // The second success of the day is warned of, once, before its job.
    const QString out = QString::fromUtf8(result.out);
    QVERIFY2(out.contains(QStringLiteral("Модем с IMEI 490154203237518 уже прошит сегодня в ")),
             result.out.constData());
    QCOMPARE(out.count(QStringLiteral("уже прошит сегодня")), 1);
}

// A slow machine lists a pulled adapter's port long after its line has hung
// up: the hang-up itself says the modem is gone, however long the port stays.
void TestWatch::hungUpLineIsAPullBeforeThePortLeavesTheList()
{
    ModemSim *sim = addModem(imeiA, true);
    const WatchResult result = watch({"flash"}, {[&] {
                                                     plug(sim, QStringLiteral("2-1"));
                                                     return true;
                                                 },
                                                 [&] {
                                                     if (sim->dataBytesReceived() < 500)
                                                         return false;
                                                     sim->hangUp();
                                                     return true;
                                                 },
                                                 interruptOnceJournaled(1)});
    QCOMPARE(result.exitCode, 1);
    const QList<QStringList> lines = journalLines();
    QVERIFY2(lines.size() == 1, result.out.constData());
    QCOMPARE(lines.at(0).at(Journal::ColumnResult), QStringLiteral("модем отключён"));
    QCOMPARE(lines.at(0).at(Journal::ColumnStep), QStringLiteral("файл main.pyo"));
}

// An adapter wired into the fixture stays plugged in while modems are swapped
// behind it: each new IMEI gets its job, and the modem prepared there
// answering again (its script stopped) is not prepared a second time.
void TestWatch::fixedAdapterPreparesEachModemOnce()
{
    ModemSim *sim = addModem(imeiA);
    const WatchResult result =
        watch({"flash", "--count", "3"},
              {[&] {
                   plug(sim, QStringLiteral("1-4"));
                   return true;
               },
               [&] {
                   if (journalLines().size() < 1)
                       return false;
                   sim->stopScript("by hand");
                   return true;
               },
               [&] { return said(QStringLiteral("Уже прошит здесь в ")) == 1; },
               swapOnceJournaled(sim, 1, imeiB), swapOnceJournaled(sim, 2, imeiC)});
    QVERIFY2(result.exitCode == 0, result.out.constData());
    const QList<QStringList> lines = journalLines();
    QVERIFY2(lines.size() == 3, result.out.constData());
    const QList<QByteArray> imeis{imeiA, imeiB, imeiC};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(lines.at(i).at(Journal::ColumnSocket), QStringLiteral("1"));
        QCOMPARE(lines.at(i).at(Journal::ColumnImei), QString::fromLatin1(imeis.at(i)));
        QCOMPARE(lines.at(i).at(Journal::ColumnResult), QStringLiteral("успех"));
    }
    QVERIFY(!QString::fromUtf8(result.out).contains(QStringLiteral("уже прошит сегодня")));
}

// A failed modem is not retried by itself while it stays; taken out (its port
// falls silent) and put back, it gets a fresh job. After its success it is
// not prepared again, unless the bench asks for that with --again.
void TestWatch::modemBackAfterItLeft_data()
{
    QTest::addColumn<bool>("again");
    QTest::newRow("prepared once") << false;
    QTest::newRow("--again") << true;
}

void TestWatch::modemBackAfterItLeft()
{
    QFETCH(bool, again);
    ModemSim *sim = addModem(imeiA);
    sim->addFault(ModemFault::onPrefix("at#wscript=\"main.pyo\"", ModemFault::Error, 1));
    const auto backAfterSilence = [&](int spells) {
        return [&, spells] {
            if (said(QStringLiteral("Модем молчит 1 с")) < spells)
                return false;
            sim->putIn();
            sim->stopScript("by hand"); // it answers, as a modem does before its script starts
            return true;
        };
    };
    const auto outOnceJournaled = [&](int lines) {
        return [&, lines] {
            if (journalLines().size() < lines)
                return false;
            QTest::qWait(quietMs); // still answering: no second job by itself
            sim->takeOut();
            return true;
        };
    };
    QStringList arguments{"flash", "--gone-after", "1"};
    if (again)
        arguments << "--count"
                  << "2";
    const WatchResult result =
        watch(arguments + (again ? QStringList{"--again"} : QStringList{}),
              {[&] {
                   plug(sim, QStringLiteral("1-4"));
                   return true;
               },
               outOnceJournaled(1), backAfterSilence(1), outOnceJournaled(2), backAfterSilence(2),
               [&] {
                   if (again || said(QStringLiteral("Уже прошит здесь в ")) == 0)
                       return false;
                   ::raise(SIGINT);
                   return true;
               }});
    QVERIFY2(result.exitCode == 1, result.out.constData()); // one job failed
    const QList<QStringList> lines = journalLines();
    QStringList results;
    for (const QStringList &line : lines)
        results << line.at(Journal::ColumnResult);
    const QStringList expected =
        again ? QStringList{"ошибка", "успех", "успех"} : QStringList{"ошибка", "успех"};
    QVERIFY2(results == expected, qPrintable(results.join(QLatin1Char(','))));
}

// Three modems in a row failing in one socket point at the socket: it is
// taken out of service with a record of its own, and the fourth modem put in
// gets no job.
void TestWatch::socketFailingOnThreeModemsIsTakenOutOfService()
{
    ModemSim *sim = addModem(imeiA);
    const auto failing = [&] {
        sim->addFault(ModemFault::onPrefix("at#wscript=\"main.pyo\"", ModemFault::Error));
    };
    failing();
    const WatchResult result =
        watch({"flash"},
              {[&] {
                   plug(sim, QStringLiteral("1-4"));
                   return true;
               },
               swapOnceJournaled(sim, 1, imeiB, failing), swapOnceJournaled(sim, 2, imeiC, failing),
               swapOnceJournaled(sim, 4, "353918057366146", failing),
               [&] {
                   QTest::qWait(quietMs * 2);
                   ::raise(SIGINT);
                   return true;
               }});
    QCOMPARE(result.exitCode, 1);
    const QList<QStringList> lines = journalLines();
    QVERIFY2(lines.size() == 4, result.out.constData());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(lines.at(i).at(Journal::ColumnResult), QStringLiteral("ошибка"));
    QCOMPARE(lines.at(3).at(Journal::ColumnResult), QStringLiteral("гнездо отключено"));
    const QString reason = QStringLiteral("Гнездо 1 отключено: 3 ошибки подряд на разных "
                                          "модемах — проверьте кабель и порт хаба");
    QCOMPARE(lines.at(3).at(Journal::ColumnText), reason);
    QVERIFY(QString::fromUtf8(result.out).contains(reason));
    QVERIFY2(!sim->commands().contains("at+cgsn"), "the fourth modem was asked");
    // The closing table: the socket's day, its last failure, and why it is out of service.
    const QString err = QString::fromUtf8(result.err);
    const QRegularExpression row(
        QStringLiteral(
            "\nГнездо +Успешно +Ошибки +Последняя ошибка\n1 +0 +3 +\\d\\d:\\d\\d Ошибка при "
            "прошивке модема: [^\n]+: ERROR\n") +
        QRegularExpression::escape(reason) + QLatin1Char('\n'));
    QVERIFY2(row.match(err).hasMatch(), result.err.constData());
}

// A GPS already on the PC when the watch starts, and an adapter of another
// kind plugged during it, never receive a byte; the matching port left alone
// is named, with how to take it, and the other kind is not.
void TestWatch::onlyNewMatchingAdaptersAreOpened()
{
    ModemSim *present = addModem(imeiB);
    ModemSim *presentOther = addModem(imeiB);
    ModemSim *other = addModem(imeiB);
    ModemSim *modem = addModem(imeiA);
    plug(present, QStringLiteral("1-3"));
    plug(presentOther, QStringLiteral("1-4"), 0xfe72);
    const WatchResult result = watch({"flash", "--match", "0403:6001", "--count", "1"},
                                     {[&] {
                                          plug(other, QStringLiteral("1-5"), 0xfe72);
                                          return true;
                                      },
                                      [&] {
                                          QTest::qWait(quietMs);
                                          plug(modem, QStringLiteral("1-6"));
                                          return true;
                                      }});
    QVERIFY2(result.exitCode == 0, result.out.constData());
    QVERIFY(modem->hasFile("main.pyo"));
    QVERIFY(present->commands().isEmpty());
    QVERIFY(other->commands().isEmpty() && presentOther->commands().isEmpty());
    const QString skipped = QStringLiteral("watch | Пропущены уже подключённые порты: ") +
                            QStringLiteral("pts") + QFileInfo(present->portName()).fileName() +
                            QStringLiteral(" — чтобы взять их, запустите с --include-present\n");
    QVERIFY2(QString::fromUtf8(result.out).contains(skipped), result.out.constData());
    QCOMPARE(journalLines().size(), 1);
    QCOMPARE(journalLines().at(0).at(Journal::ColumnSocket), QStringLiteral("1"));
}

// The first Ctrl+C starts no new modem and lets the running job go on; the
// second stops every port within half a second, journals the job as
// interrupted and exits 130.
void TestWatch::interruptTwiceStopsEveryPort()
{
    ModemSim *writing = addModem(imeiA, true);
    ModemSim *waiting = addModem(imeiB);
    waiting->startScript(); // never answers the presence check
    ModemSim *late = addModem(imeiB);
    QElapsedTimer sinceSecond;
    qint64 bytesAtFirst = 0;
    const WatchResult result = watch(
        {"flash"}, {[&] {
                        plug(writing, QStringLiteral("1-1"));
                        plug(waiting, QStringLiteral("1-2"));
                        return true;
                    },
                    [&] {
                        if (writing->dataBytesReceived() < 300 || waiting->commands().isEmpty())
                            return false;
                        ::raise(SIGINT);
                        bytesAtFirst = writing->dataBytesReceived();
                        plug(late, QStringLiteral("1-3"));
                        return true;
                    },
                    [&] {
                        if (writing->dataBytesReceived() < bytesAtFirst + 500)
                            return false;
                        sinceSecond.start();
                        ::raise(SIGINT);
                        return true;
                    }});
    const qint64 stopMs = sinceSecond.elapsed();
    QCOMPARE(result.exitCode, 130);
    QVERIFY2(stopMs < fastMs(500) + schedulingSlackMs, qPrintable(QString::number(stopMs)));
    const int commandsAtStop = writing->commands().size() + waiting->commands().size();
    QTest::qWait(quietMs);
    QCOMPARE(writing->commands().size() + waiting->commands().size(), commandsAtStop);
    QVERIFY(late->commands().isEmpty());
    // The modem whose script ran is on record too, as the watch stopped.
    QMap<QString, QStringList> bySocket;
    for (const QStringList &line : journalLines())
        bySocket.insert(line.at(Journal::ColumnSocket), line);
    QCOMPARE(bySocket.size(), 2);
    QCOMPARE(bySocket.value("1").mid(Journal::ColumnResult, 2),
             (QStringList{"прервано", "файл main.pyo"}));
    QCOMPARE(bySocket.value("2").at(Journal::ColumnResult), QStringLiteral("уже прошит"));
}

// Ctrl+C on a terminal while no job runs (one socket emptied after its job,
// one whose modem runs its script): the watch ends at once with 0 and its
// summary, and no live line is drawn again below the summary.
void TestWatch::interruptWithNoJobRunningEndsAtOnce()
{
    mTerminal = true;
    ModemSim *flashed = addModem(imeiA);
    ModemSim *scripting = addModem(imeiB);
    scripting->startScript();
    const WatchResult result = watch({"flash"}, {[&] {
                                                     plug(flashed, QStringLiteral("1-1"));
                                                     plug(scripting, QStringLiteral("1-2"));
                                                     return true;
                                                 },
                                                 [&] {
                                                     if (journalLines().isEmpty())
                                                         return false;
                                                     unplug(flashed);
                                                     return true;
                                                 },
                                                 [&] {
                                                     if (said(QStringLiteral("Свободно")) == 0)
                                                         return false;
                                                     ::raise(SIGINT);
                                                     return true;
                                                 }});
    QVERIFY2(result.exitCode == 0, result.out.constData());
    const QString out = QString::fromUtf8(result.out);
    const int summary = out.lastIndexOf(QStringLiteral("Итого: успешно 1, ошибок 0"));
    QVERIFY2(summary > 0, result.out.constData());
    QVERIFY2(!out.mid(summary).contains(QLatin1Char('\x1b')), result.out.constData());
    QVERIFY(!out.mid(summary).contains(QStringLiteral("Свободно")));
}

// A job that ends after the first Ctrl+C is in the summary and the exit status,
// also when it is the last one: a failure there is never reported as success.
void TestWatch::jobEndingAfterInterruptionIsCounted()
{
    ModemSim *failing = addModem(imeiA);
    failing->addFault(ModemFault::onPrefix("at#wscript=\"main.pyo\"", ModemFault::Error, 1));
    const WatchResult result =
        watch({"flash"}, {[&] {
                              plug(failing, QStringLiteral("1-1"));
                              return true;
                          },
                          [&] {
                              // In the restart's silence: the job is far from its end.
                              if (!failing->commands().contains("at#enhrst=1,0"))
                                  return false;
                              ::raise(SIGINT);
                              return true;
                          }});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("Итого: успешно 0, ошибок 1,"), result.err.constData());
    const QList<QStringList> lines = journalLines();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.at(0).at(Journal::ColumnResult), QStringLiteral("ошибка"));
}

// The journal's disk fills while two modems are flashed: each job's end is
// still printed, each record that did not go in is given out whole on
// standard error and counted, the journal keeps no torn line, and the watch
// ends by itself with 1 rather than flash modems it cannot record.
void TestWatch::journalThatCannotBeWrittenStopsTheWatch()
{
    ModemSim *first = addModem(imeiA);
    ModemSim *second = addModem(imeiB);
    std::unique_ptr<TestSupport::FileSizeLimit> limit;
    QByteArray before;
    const WatchResult result =
        watch({"flash"}, {[&] {
                              plug(first, QStringLiteral("1-1"));
                              plug(second, QStringLiteral("1-2"));
                              return true;
                          },
                          [&] {
                              if (!first->commands().contains("at#escript=\"\"") ||
                                  !second->commands().contains("at#escript=\"\""))
                                  return false;
                              // Room for part of a line: what goes in must be cut off again.
                              before = TestSupport::readFile(mJournal);
                              limit =
                                  std::make_unique<TestSupport::FileSizeLimit>(before.size() + 20);
                              return true;
                          }});
    limit.reset();
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.out.contains("Не удалось записать в журнал " + mJournal.toUtf8() +
                                 ": файл достиг предельного размера"),
             result.out.constData());
    QCOMPARE(result.out.count("Итог: успех"), 2);
    QCOMPARE(TestSupport::readFile(mJournal), before);
    const QString err = QString::fromUtf8(result.err);
    for (const QByteArray &imei : {imeiA, imeiB}) {
        const QRegularExpression whole(
            QStringLiteral("не записан в журнал \\(файл достиг предельного размера\\): \\d{4}-"
                           "[^\\n]*;") +
            QString::fromLatin1(imei) + QStringLiteral(";flash;успех;;Модем прошит;"));
        QVERIFY2(err.contains(whole), result.err.constData());
    }
    QVERIFY2(err.contains(QStringLiteral(", не записан в журнал: 2")), result.err.constData());
}

// Every modem gets one line, also without a job: a modem whose script runs
// ("уже прошит", counted apart, not a failure), one that sends garbage ("не
// отвечает", with what came, escaped) and a port that does not open (the
// hint's reason). Neither modem gets more than the presence check.
void TestWatch::modemsWithoutAJobAreRecorded()
{
    ModemSim *scripting = addModem(imeiA);
    scripting->startScript();
    ModemSim *garbage = addModem(imeiB);
    garbage->setScriptOutput(QByteArray("\x01garbage\xff\r\n"));
    garbage->startScript();
    const WatchResult result =
        watch({"flash", "--answer-within", "1"},
              {[&] {
                   plug(scripting, QStringLiteral("1-1"));
                   plug(garbage, QStringLiteral("1-2"));
                   mBench->plugPort(QStringLiteral("/nonexistent/ttyX"), QStringLiteral("1-3"));
                   return true;
               },
               interruptOnceJournaled(3)});
    QCOMPARE(result.exitCode, 1);
    QMap<QString, QStringList> bySocket;
    for (const QStringList &line : journalLines())
        bySocket.insert(line.at(Journal::ColumnSocket), line);
    QCOMPARE(bySocket.size(), 3);
    QCOMPARE(bySocket.value("1").mid(Journal::ColumnResult, 3),
             (QStringList{"уже прошит", "", "выполняется скрипт v1.08"}));
    QCOMPARE(bySocket.value("2").mid(Journal::ColumnResult, 2), (QStringList{"не отвечает", ""}));
    const QString heard = bySocket.value("2").at(Journal::ColumnText);
    QVERIFY2(heard.startsWith(QString::fromUtf8("получено: \\x01garbage\xEF\xBF\xBD\\r\\n")),
             qPrintable(heard));
    QCOMPARE(bySocket.value("3").at(Journal::ColumnResult), QStringLiteral("порт не открылся"));
    QVERIFY(!bySocket.value("3").at(Journal::ColumnText).isEmpty());
    for (ModemSim *sim : {scripting, garbage}) {
        QVERIFY(!sim->commands().isEmpty());
        for (const QByteArray &command : sim->commands())
            QCOMPARE(command, QByteArray("ate0"));
    }
    const QString out = QString::fromUtf8(result.out);
    QCOMPARE(out.count(QStringLiteral("Выполняется скрипт v1.08: модем уже прошит? Чтобы прошить "
                                      "его здесь, выключите и включите питание")),
             1);
    QCOMPARE(out.count(QStringLiteral("Модем не отвечает (получено: \\x01garbage")), 1);
    QVERIFY(!out.contains(QStringLiteral("Модем не отвечает (получено: v1.08")));
    QVERIFY2(result.err.contains("Итого: успешно 0, ошибок 2, модемов в час —, уже прошиты: 1"),
             result.err.constData());
}

// A failed job's record says at which step, how far into the file, and what
// the modem did there: nothing within the wait (and the wait), "ERROR", or
// other bytes, shown escaped.
void TestWatch::failureSaysWhatTheModemDid_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("text"); // a pattern for the record's text
    const QString step = QStringLiteral("^Ошибка при прошивке модема: шаг \\d+ из 10");
    QTest::newRow("ERROR to the write command")
        << int(ModemFault::Error) << step + QStringLiteral(": ERROR$");
    QTest::newRow("silence to the write command")
        << int(ModemFault::Silence)
        << step + QStringLiteral(": нет ответа за %1 мс$").arg(fastMs(1500));
    QTest::newRow("garbage to the write command")
        << int(ModemFault::Garbage) << step + QStringLiteral(": получено: .+$");
    QTest::newRow("stalled in the file's bytes")
        << int(ModemFault::DataStall)
        << step + QStringLiteral(", main.pyo \\d+ из \\d+ байт: нет ответа за \\d+ мс$");
}

void TestWatch::failureSaysWhatTheModemDid()
{
    QFETCH(int, action);
    QFETCH(QString, text);
    ModemSim *failing = addModem(imeiA);
    failing->addFault(ModemFault::onPrefix("at#wscript=\"main.pyo\"", ModemFault::Action(action), 1)
                          .afterDataBytes(4096));
    const WatchResult result = watch({"flash", "--count", "1"}, {[&] {
                                                                     plug(failing, "1-1");
                                                                     return true;
                                                                 },
                                                                 interruptOnceJournaled(1)});
    QCOMPARE(result.exitCode, 1);
    const QList<QStringList> lines = journalLines();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.at(0).at(Journal::ColumnResult), QStringLiteral("ошибка"));
    const QString recorded = lines.at(0).at(Journal::ColumnText);
    QVERIFY2(QRegularExpression(text).match(recorded).hasMatch(), qPrintable(recorded));
    QVERIFY(!recorded.contains(QLatin1Char('\x1b')) && !recorded.contains(QLatin1Char('\0')));
}

// A modem that talks but never answers and is taken out before any limit is
// recorded when it leaves, once.
void TestWatch::modemLeavingBeforeItsVerdictIsRecorded()
{
    ModemSim *garbage = addModem(imeiB);
    garbage->setScriptOutput(QByteArray("\x7f\x80"));
    garbage->startScript();
    const WatchResult result =
        watch({"flash", "--answer-within", "0"},
              {[&] {
                   plug(garbage, QStringLiteral("1-2"));
                   return true;
               },
               [&] {
                   if (said(QStringLiteral("Модем не отвечает (получено: ")) == 0)
                       return false;
                   QTest::qWait(quietMs); // no limit: nothing is written while it stays
                   if (!journalLines().isEmpty())
                       return true;
                   unplug(garbage);
                   return true;
               },
               interruptOnceJournaled(1)});
    QCOMPARE(result.exitCode, 1);
    const QList<QStringList> lines = journalLines();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.at(0).at(Journal::ColumnResult), QStringLiteral("не отвечает"));
    QVERIFY2(lines.at(0).at(Journal::ColumnText).startsWith(QStringLiteral("получено: \\x7f")),
             qPrintable(lines.at(0).at(Journal::ColumnText)));
}

// A journal moved aside (an editor's save), deleted or emptied between two
// modems: the second modem's line goes into the file now at the journal's
// name, a new one with its BOM and header; the old file is never written
// again, and the watch says what it found.
void TestWatch::journalReplacedDeletedOrEmptied_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("renamed, a copy put back") << "replaced";
    QTest::newRow("deleted") << "deleted";
    QTest::newRow("emptied") << "emptied";
}

void TestWatch::journalReplacedDeletedOrEmptied()
{
    QFETCH(QString, change);
    ModemSim *first = addModem(imeiA);
    ModemSim *second = addModem(imeiB);
    const QString aside = mJournal + QStringLiteral(".bak");
    QByteArray copied;
    const WatchResult result =
        watch({"flash", "--count", "2"}, {[&] {
                                              plug(first, QStringLiteral("1-1"));
                                              return true;
                                          },
                                          [&] {
                                              if (journalLines().isEmpty())
                                                  return false;
                                              if (change == QLatin1String("replaced")) {
                                                  copied = TestSupport::readFile(mJournal);
                                                  QFile::rename(mJournal, aside);
                                                  TestSupport::writeFile(mJournal, copied);
                                              } else if (change == QLatin1String("deleted")) {
                                                  QFile::remove(mJournal);
                                              } else {
                                                  QFile::resize(mJournal, 0);
                                              }
                                              plug(second, QStringLiteral("1-2"));
                                              return true;
                                          }});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    const QByteArray journal = TestSupport::readFile(mJournal);
    const QByteArray start = QByteArray("\xEF\xBB\xBF") + Journal::header();
    QVERIFY2(journal.startsWith(start), journal.constData());
    QCOMPARE(journal.count(Journal::header()), 1);
    QVERIFY(journal.contains(";" + imeiB + ";flash;успех;"));
    QCOMPARE(journal.contains(";" + imeiA + ";"), change == QLatin1String("replaced"));
    if (change == QLatin1String("replaced")) {
        QVERIFY(journal.startsWith(copied));
        QCOMPARE(TestSupport::readFile(aside), copied); // the old file is left alone
    }
    const QString out = QString::fromUtf8(result.out);
    const QString said = change == QLatin1String("emptied") ? QStringLiteral(" укорочен извне")
                         : change == QLatin1String("deleted")
                             ? QStringLiteral(" удалён: записи продолжаются в файле ")
                             : QStringLiteral(" заменён другим файлом: записи продолжаются");
    QVERIFY2(out.contains(QStringLiteral("журнал | Журнал ") + mJournal + said),
             result.out.constData());
}

// A numbers file that gives one number to two ports would put both modems into
// one socket: the watch refuses it at the start, names the line, and no modem
// gets a byte.
void TestWatch::numbersFileGivingANumberTwiceIsRefused()
{
    ModemSim *sim = addModem(imeiA);
    plug(sim, QStringLiteral("1-1"));
    TestSupport::writeFile(mDir->filePath(QStringLiteral("journal.sockets")), "1;1-1\n1;1-2\n");
    const WatchResult result = watch({"flash", "--include-present"});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("строка 2: номер 1 уже дан в строке 1"), result.err.constData());
    QTest::qWait(quietMs);
    QVERIFY(sim->commands().isEmpty());
}

// Two modems that give one IMEI at once: the second is warned at once, and its
// journal line says so; both are flashed.
void TestWatch::sameImeiInTwoSocketsAtOnce()
{
    ModemSim *first = addModem(imeiA);
    ModemSim *twin = addModem(imeiA);
    const WatchResult result = watch({"flash", "--count", "2"}, {[&] {
                                         plug(first, QStringLiteral("1-1"));
                                         plug(twin, QStringLiteral("1-2"));
                                         return true;
                                     }});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(QString::fromUtf8(result.out).count(QStringLiteral("| тот же IMEI сейчас в гнезде ")),
             1);
    const QList<QStringList> lines = journalLines();
    QCOMPARE(lines.size(), 2);
    const int warned =
        lines.at(0).at(Journal::ColumnText).contains(QStringLiteral("тот же IMEI")) ? 0 : 1;
    QVERIFY(lines.at(warned)
                .at(Journal::ColumnText)
                .startsWith(QStringLiteral("Модем прошит; тот же IMEI сейчас "
                                           "в гнезде ")));
    QVERIFY(!lines.at(1 - warned).at(8).contains(QStringLiteral("тот же IMEI")));
}

// The journal on a disk that is full from the start, and on one that fills up later.
void TestWatch::journalOnAFullDisk()
{
    QTemporaryDir dir;
    QString error;
    Journal journal;
    JournalRecord record;
    record.socket = 1;
    record.port = QStringLiteral("ttyUSB0");
    record.job = QStringLiteral("flash");
    const QString file = dir.filePath(QStringLiteral("journal.csv"));
    {
        const TestSupport::FileSizeLimit full(10);
        QVERIFY(!journal.open(file, &error));
        QCOMPARE(error, QStringLiteral("Не удалось записать журнал ") + file +
                            QStringLiteral(": файл достиг предельного размера"));
        QVERIFY(!journal.append(record, &error));
    }
    QFile::remove(file);
    QVERIFY(journal.open(file, &error));
    const TestSupport::FileSizeLimit full(QFileInfo(file).size());
    QVERIFY(!journal.append(record, &error));
    QVERIFY2(error.startsWith(QStringLiteral("Не удалось записать в журнал ") + file +
                              QStringLiteral(": ")),
             qPrintable(error));
}

// A held socket reads the modem's IMEI but starts no job until released: the
// watch holds jobs while a journal line is on its way to the disk.
void TestWatch::heldSocketStartsItsJobOnlyWhenReleased()
{
    ModemSim &sim = *addModem("490154203237518");
    SocketRun socket(1, OperationType::Flash, QStringLiteral("flash"), TestSupport::fastTiming());
    QSignalSpy identified(&socket, &SocketRun::signal_identified);
    socket.holdJobs(true);
    PortEntry entry;
    entry.name = QStringLiteral("pts");
    entry.systemLocation = sim.portName();
    socket.plug(entry);
    QVERIFY(identified.wait(10000));
    const int commands = sim.commands().size();
    QVERIFY(!QTest::qWaitFor(
        [&] {
            return socket.state() != SocketRun::State::Identifying ||
                   sim.commands().size() != commands;
        },
        fastMs(1000)));

    socket.holdJobs(false);
    QVERIFY(socket.jobRunning());
    QTRY_VERIFY(sim.commands().size() > commands);
    socket.stopNow();
    QTRY_VERIFY(!socket.busy());
}

// A bench upgraded with its old journal: the old file is left as it is and
// said so once, the lines go beside it with the bench's name, and the settings
// sent are named by their file and hash, their values (a PIN) nowhere.
void TestWatch::settingsJournaledByNameAndHashBesideAnOlderJournal()
{
    const QByteArray old = "\xEF\xBB\xBF"
                           "Дата и время;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;"
                           "Результат;Шаг;Текст;Длительность, с;Версия;SHA-256\r\n";
    TestSupport::writeFile(mJournal, old);
    const QString settings = mDir->filePath(QStringLiteral("bench.ini"));
    const QByteArray content = "PIN::4721::PIN-код\r\nAPN::internet::Точка входа GPRS";
    TestSupport::writeFile(settings, content);
    ModemSim *sim = addModem(imeiA);
    const WatchResult result = watch(
        {"load-settings", "--settings", settings, "--bench", "Стенд 2", "--count", "1"}, {[&] {
            plug(sim, QStringLiteral("1-1"));
            return true;
        }});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(sim->file("settings.ini"), content);
    const QString beside = mDir->filePath(QStringLiteral("journal-2.csv"));
    const QString out = QString::fromUtf8(result.out);
    QCOMPARE(out.count(QStringLiteral("журнал | Журнал ") + mJournal +
                       QStringLiteral(" старого вида оставлен как есть: записи идут в ") + beside),
             1);
    QVERIFY2(out.contains(QStringLiteral("Ждём модемы; журнал ") + beside), result.out.constData());
    QCOMPARE(TestSupport::readFile(mJournal), old);
    const QByteArray written = TestSupport::readFile(beside);
    const QList<QByteArray> raw = written.split('\n');
    QCOMPARE(raw.size(), 3); // the header, the line, nothing after its CR LF
    const QStringList line = Journal::splitLine(QString::fromUtf8(raw.at(1)).trimmed());
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    QCOMPARE(line.at(Journal::ColumnBench), QStringLiteral("Стенд 2"));
    QCOMPARE(line.at(Journal::ColumnResult), QStringLiteral("успех"));
    QCOMPARE(line.at(Journal::ColumnSettingsFile), QStringLiteral("bench.ini"));
    QCOMPARE(line.at(Journal::ColumnSettingsHash), hash);
    QVERIFY(line.at(Journal::ColumnFileHashes).startsWith(QStringLiteral("settings.ini:") + hash));
    for (const QByteArray &said : {result.out, result.err, written})
        QVERIFY2(!said.contains("4721"), said.constData());
}

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
