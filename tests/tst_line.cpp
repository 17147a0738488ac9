// The production line's widget-free pieces: the IMEI answer, USB positions and
// the adapter filter, the port watcher over a hand-filled list, the socket
// numbers file, the journal, the hints for a port that does not open, and the
// watch's command line. The watcher runs on the fast timing.
#include "cli/watcharguments.h"
#include "line/imeiparser.h"
#include "line/journal.h"
#include "line/journalreader.h"
#include "line/listingschedule.h"
#include "line/openfailurehint.h"
#include "line/portwatcher.h"
#include "line/socketnumbers.h"
#include "line/socketrun.h"
#include "line/sockettexts.h"
#include "line/usbidfilter.h"
#include "line/usblocation.h"
#include "line/yieldmeter.h"
#include "log/appendjournal.h"
#include "serial/serialport.h"
#include "testtiming.h"

#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <stdlib.h>
#endif

using TestSupport::fastMs;
using TestSupport::schedulingSlackMs;

namespace {
const Timing fast = TestSupport::fastTiming();

PortEntry port(const QString &name, quint16 vid = 0x0403, quint16 pid = 0x6001,
               const QString &location = QString())
{
    PortEntry entry;
    entry.name = name;
    entry.systemLocation = QStringLiteral("/dev/") + name;
    entry.location = location;
    entry.vendorId = vid;
    entry.productId = pid;
    entry.hasIds = vid != 0;
    return entry;
}

QStringList names(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy)
        result << arguments.at(0).value<PortEntry>().name;
    return result;
}

void writeAll(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QByteArray readAll(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#ifdef Q_OS_UNIX
// A port as real as a test can have: the slave of a pseudo-terminal, which
// exists while the master is open.
class PseudoTerminal
{
public:
    PseudoTerminal()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || !mMaster.open(master, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle))
            return;
        if (::grantpt(master) == 0 && ::unlockpt(master) == 0)
            mSlave = QString::fromLocal8Bit(::ptsname(master));
    }
    QString slave() const { return mSlave; }
    void close() { mMaster.close(); }

private:
    QFile mMaster;
    QString mSlave;
};

// The file open here without blocking and without any lock, as a terminal
// program has a port open.
bool openPlainly(const QString &device, QFile &file)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return fd >= 0 && file.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle);
}

QString thisProgram()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

QString thisProcess()
{
    return thisProgram() + QStringLiteral(", PID ") +
           QString::number(QCoreApplication::applicationPid());
}

// A PID that no process has: one that has just ended.
qint64 endedPid()
{
    QProcess process;
    process.start(QStringLiteral("true"), QStringList());
    if (!process.waitForStarted())
        return 0;
    const qint64 pid = process.processId();
    process.waitForFinished();
    return pid;
}

QString heldText(const QString &device, const QString &holders,
                 const OpenFailureHint &hint = OpenFailureHint())
{
    return OpenFailureHint::text(OpenFailureHint::Reason::Held, device, holders, hint.grabbers());
}
#endif

JournalRecord record(const QString &imei, JournalRecord::Result result, int socket = 1,
                     const QString &job = QStringLiteral("flash"))
{
    JournalRecord r;
    r.socket = socket;
    r.port = QStringLiteral("ttyUSB0");
    r.serialNumber = QStringLiteral("A10K;\"x\"");
    r.imei = imei;
    r.job = job;
    r.result = result;
    r.seconds = 46.6;
    return r;
}
} // namespace

class TestLine : public QObject
{
    Q_OBJECT

private slots:
    void imeiFromAnswer_data();
    void imeiFromAnswer();
    void usbPositionFromSysfs_data();
    void usbPositionFromSysfs();
    void usbPositionFromDeviceTree();
    void adapterFilter_data();
    void adapterFilter();
    void watcherReportsOnlyNewMatchingPorts();
    void watcherIncludesPresentPortsOnRequest();
    void watcherListsOffTheCallersThread();
    void listingOnlyWhenSomethingMayHaveChanged();
    void watcherSkipsListingsWhileTheSignatureStands();
    void socketNumbersSurviveRestart();
    void socketNumbersRefused_data();
    void socketNumbersRefused();
    void journalLinesBomOnceFlushedAtOnce();
    void journalFieldsSurviveSeparatorsQuotesAndBreaks();
    void journalFieldsFromOutside_data();
    void journalFieldsFromOutside();
    void journalWarnsOfAModemFlashedToday();
    void journalThatCannotBeOpened();
    void journalOfAnOlderLayoutIsLeftAsItIs_data();
    void journalOfAnOlderLayoutIsLeftAsItIs();
    void journalUpgradedTwiceReadsBothOlderFiles();
    void hintsForAPortThatDoesNotOpen_data();
    void hintsForAPortThatDoesNotOpen();
    void hintNamesHoldersAndGrabbersFromProc();
    void hintNamesTheLiveWriterOfALockFile_data();
    void hintNamesTheLiveWriterOfALockFile();
    void hintNamesTheQtProgramHoldingAPort();
    void hintNamesWhoHoldsTheDeviceItself();
    void watchArguments_data();
    void watchArguments();
    void yieldCountsSuccessesOfTheLastHour();
    void socketTellsANewModemByItsImei_data();
    void socketTellsANewModemByItsImei();
};

void TestLine::imeiFromAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("imei"); // empty: none
    QTest::newRow("echo off") << QByteArray("\r\n490154203237518\r\n\r\nOK\r\n")
                              << "490154203237518";
    QTest::newRow("with echo") << QByteArray("at+cgsn\r\r\n356938035643809\r\n\r\nOK\r\n")
                               << "356938035643809";
    QTest::newRow("+CGSN prefix, quoted")
        << QByteArray("\r\n+CGSN: \"490154203237518\"\r\nOK\r\n") << "490154203237518";
    QTest::newRow("no digits") << QByteArray("\r\nERROR\r\n") << "";
    QTest::newRow("only OK") << QByteArray("\r\nOK\r\n") << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("14 digits") << QByteArray("\r\n49015420323751\r\nOK\r\n") << "";
    QTest::newRow("16 digits") << QByteArray("\r\n4901542032375180\r\nOK\r\n") << "";
    QTest::newRow("bad Luhn digit") << QByteArray("\r\n490154203237519\r\nOK\r\n") << "";
    QTest::newRow("digits inside text") << QByteArray("\r\nIMEI 490154203237518\r\nOK\r\n") << "";
    QTest::newRow("after a zero byte") << QByteArray("\r\n") + '\0' + "490154203237518\r\nOK\r\n"
                                       << "";
    // 'B' weighs 18 where '8' weighs 8: the check digit alone would not refuse it.
    QTest::newRow("letter among digits") << QByteArray("\r\n49015420323751B\r\nOK\r\n") << "";
    QTest::newRow("+CGSN without a space")
        << QByteArray("\r\n+CGSN:490154203237518\r\nOK\r\n") << "490154203237518";
    QTest::newRow("spaces around")
        << QByteArray("\r\n  490154203237518 \r\nOK\r\n") << "490154203237518";
    QTest::newRow("zero byte first") << QByteArray(1, '\0') + "\r\n490154203237518\r\nOK\r\n"
                                     << "";
    QTest::newRow("one quote only") << QByteArray("\r\nA490154203237518\"\r\nOK\r\n") << "";
    // Only an answer that ends in OK and names one modem gives an IMEI.
    QTest::newRow("digits, then ERROR") << QByteArray("\r\n490154203237518\r\n\r\nERROR\r\n") << "";
    QTest::newRow("cut short before OK") << QByteArray("\r\n490154203237518\r\n") << "";
    QTest::newRow("two numbers") << QByteArray("\r\n490154203237518\r\n356938035643809\r\nOK\r\n")
                                 << "";
    QTest::newRow("a second, damaged number")
        << QByteArray("\r\n490154203237518\r\n490154203237519\r\nOK\r\n") << "";
    QTest::newRow("a short number beside it")
        << QByteArray("\r\n+CGSN: 1\r\n490154203237518\r\nOK\r\n") << "490154203237518";
    // Fourteen digits are no IMEI, so no second one: counted exactly, from the letter on.
    QTest::newRow("fourteen digits beside it")
        << QByteArray("\r\n490154203237518\r\nSN A12345678901234\r\nOK\r\n") << "490154203237518";
}

void TestLine::imeiFromAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, imei);
    QCOMPARE(ImeiParser::parse(answer).value_or(QString()), imei);
    QVERIFY(ImeiParser::luhnValid("79927398713"));
    QVERIFY(!ImeiParser::luhnValid(""));
    QVERIFY(!ImeiParser::luhnValid("7992739871B"));
}

void TestLine::usbPositionFromSysfs_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("position");
    QTest::newRow("ftdi on a hub")
        << "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.4/1-1.4:1.0/ttyUSB0"
        << "1-1.4";
    QTest::newRow("acm interface") << "/sys/devices/pci0000:00/0000:00:14.0/usb3/3-2/3-2:1.0"
                                   << "3-2";
    QTest::newRow("deep hub") << "/sys/devices/x/usb2/2-1/2-1.2/2-1.2.3/2-1.2.3:1.1/ttyUSB3"
                              << "2-1.2.3";
    QTest::newRow("position first") << "1-2/1-2:1.0/ttyUSB0"
                                    << "1-2";
    QTest::newRow("position last") << "/sys/devices/x/usb1/1-3"
                                   << "1-3";
    QTest::newRow("no USB") << "/sys/devices/platform/serial8250/tty/ttyS0"
                            << "";
}

void TestLine::usbPositionFromSysfs()
{
    QFETCH(QString, path);
    QFETCH(QString, position);
    QCOMPARE(UsbLocation::fromSysfsPath(path), position);
}

// Which node's location becomes a COM port's socket on Windows.
void TestLine::usbPositionFromDeviceTree()
{
    using Node = UsbLocation::DeviceNode;
    const QString paths = QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(4)");
    const QString info = QStringLiteral("Port_#0004.Hub_#0002");
    const Node hub{QStringLiteral("USB\\ROOT_HUB30\\4&1"),
                   {QStringLiteral("PCIROOT(0)#PCI(1400)")},
                   QString()};
    const Node ftdi{QStringLiteral("USB\\VID_0403&PID_6001\\A12345"), {paths}, info};
    const Node ftdiPort{QStringLiteral("FTDIBUS\\VID_0403+PID_6001+A12345A\\0000"), {}, QString()};
    // The port on the device's own node, one level below it, and on an
    // interface of a composite device: each time the device's position.
    QCOMPARE(UsbLocation::fromDeviceChain({ftdi, hub}), paths);
    QCOMPARE(UsbLocation::fromDeviceChain({ftdiPort, ftdi, hub}), paths);
    const Node acm{QStringLiteral("USB\\VID_1BC7&PID_1201&MI_00\\6&2"),
                   {paths + QStringLiteral("#USBMI(0)")},
                   QStringLiteral("0000.0014.0000.004.000")};
    const Node composite{QStringLiteral("usb\\vid_1bc7&pid_1201\\0"), {paths}, info};
    QCOMPARE(UsbLocation::fromDeviceChain({acm, composite, hub}), paths);
    // Without location paths the location information; an interface alone gives its own.
    QCOMPARE(UsbLocation::fromDeviceChain({ftdiPort, Node{ftdi.instanceId, {QString()}, info}}),
             info);
    QCOMPARE(UsbLocation::fromDeviceChain({acm}), acm.locationPaths.first());
    // No USB device in the chain: no position, the port keeps its name as its socket.
    const Node uart{
        QStringLiteral("ACPI\\PNP0501\\1"), {QStringLiteral("ACPI(_SB_)#ACPI(UAR1)")}, QString()};
    QCOMPARE(UsbLocation::fromDeviceChain({uart}), QString());
    QCOMPARE(UsbLocation::fromDeviceChain({}), QString());
    QCOMPARE(UsbLocation::fromDeviceChain({Node{ftdi.instanceId, {}, QStringLiteral("  ")}}),
             QString());
}

void TestLine::adapterFilter_data()
{
    QTest::addColumn<QStringList>("match");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("ftdi"); // matches 0403:6001
    QTest::addColumn<bool>("noIds");
    QTest::newRow("none: all") << QStringList{} << true << true << true;
    QTest::newRow("same") << QStringList{"0403:6001"} << true << true << false;
    QTest::newRow("upper case") << QStringList{"0403:6001", "10C4:EA60"} << true << true << false;
    QTest::newRow("other") << QStringList{"0403:fe72"} << true << false << false;
    QTest::newRow("no colon") << QStringList{"04036001"} << false << false << false;
    QTest::newRow("short") << QStringList{"403:6001"} << false << false << false;
    QTest::newRow("not hex") << QStringList{"0403:60g1"} << false << false << false;
}

void TestLine::adapterFilter()
{
    QFETCH(QStringList, match);
    QFETCH(bool, valid);
    QFETCH(bool, ftdi);
    QFETCH(bool, noIds);
    const std::optional<UsbIdFilter> filter = UsbIdFilter::parse(match);
    QCOMPARE(filter.has_value(), valid);
    if (!filter)
        return;
    QCOMPARE(filter->matches(port(QStringLiteral("ttyUSB0"))), ftdi);
    QVERIFY(!filter->matches(port(QStringLiteral("ttyUSB1"), 0x0403, 0x6002)) || match.isEmpty());
    QCOMPARE(filter->matches(port(QStringLiteral("ttyS0"), 0, 0)), noIds);
}

void TestLine::watcherReportsOnlyNewMatchingPorts()
{
    QList<PortEntry> ports{port(QStringLiteral("ttyUSB0")), port(QStringLiteral("ttyS0"), 0, 0)};
    PortWatcher watcher(PortLister([&ports] { return ports; }), fast);
    watcher.setFilter(*UsbIdFilter::parse({QStringLiteral("0403:6001")}));
    QSignalSpy added(&watcher, &PortWatcher::signal_portAdded);
    QSignalSpy removed(&watcher, &PortWatcher::signal_portRemoved);
    watcher.start();
    QCOMPARE(added.count(), 0); // present at start: left alone

    ports << port(QStringLiteral("ttyUSB1")) << port(QStringLiteral("ttyUSB2"), 0x0403, 0xfe72)
          << port(QStringLiteral("ttyS1"), 0, 0);
    watcher.poll();
    QCOMPARE(names(added), QStringList{"ttyUSB1"});
    watcher.poll();
    QCOMPARE(added.count(), 1);

    // One listing that misses ports still plugged (the system's list can, while
    // another adapter comes or goes) removes nothing and wakes nothing ignored.
    const QList<PortEntry> all = ports;
    ports.clear();
    watcher.poll();
    ports = all;
    watcher.poll();
    QCOMPARE(removed.count(), 0);
    QCOMPARE(added.count(), 1);

    // The port present at start goes and comes back: now it is a new device.
    ports.removeFirst();
    watcher.poll();
    watcher.poll();
    QCOMPARE(removed.count(), 0);
    ports << port(QStringLiteral("ttyUSB0"));
    ports.removeAt(1); // ttyUSB1 pulled
    watcher.poll();
    QCOMPARE(names(removed), QStringList{});
    watcher.poll();
    QCOMPARE(names(added), (QStringList{"ttyUSB1", "ttyUSB0"}));
    QCOMPARE(names(removed), QStringList{"ttyUSB1"});

    // Pulled and plugged back between two looks, under its name: the device
    // node is another one, so the port went and a new one came.
    ports << port(QStringLiteral("ttyUSB3"));
    ports.last().device = QStringLiteral("1.1");
    watcher.poll();
    ports.last().device = QStringLiteral("2.1");
    watcher.poll();
    QCOMPARE(names(removed), (QStringList{"ttyUSB1", "ttyUSB3"}));
    QCOMPARE(names(added), (QStringList{"ttyUSB1", "ttyUSB0", "ttyUSB3", "ttyUSB3"}));
    ports.last().device.clear(); // a system that does not say: the name stands
    watcher.poll();
    QCOMPARE(removed.count(), 2);

    // The timer polls by itself, twice a second.
    ports << port(QStringLiteral("ttyUSB5"));
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(added.count(), 5, 2000);
    QVERIFY(clock.elapsed() < fastMs(1000) + schedulingSlackMs);
}

void TestLine::watcherIncludesPresentPortsOnRequest()
{
    QList<PortEntry> ports{port(QStringLiteral("ttyUSB0")), port(QStringLiteral("ttyUSB1"))};
    PortWatcher watcher(PortLister([&ports] { return ports; }), fast);
    watcher.setIncludePresent(true);
    QSignalSpy added(&watcher, &PortWatcher::signal_portAdded);
    watcher.start();
    QCOMPARE(names(added), (QStringList{"ttyUSB0", "ttyUSB1"}));
    watcher.stop();
    ports << port(QStringLiteral("ttyUSB2"));
    QVERIFY(!added.wait(msOf(fast.portPoll) + fastMs(200))); // stopped: nothing more is listed
}

// A lister that may run elsewhere (the system's) is never called on the
// caller's thread; what it finds is reported there, the ports present at start
// are still left alone, and nothing is reported after stop().
void TestLine::watcherListsOffTheCallersThread()
{
    QMutex mutex;
    QList<PortEntry> ports{port(QStringLiteral("ttyUSB0"))};
    QSet<QThread *> listingThreads;
    PortWatcher watcher(PortLister(
                            [&] {
                                QMutexLocker lock(&mutex);
                                listingThreads.insert(QThread::currentThread());
                                return ports;
                            },
                            true),
                        fast);
    QSignalSpy added(&watcher, &PortWatcher::signal_portAdded);
    QSignalSpy removed(&watcher, &PortWatcher::signal_portRemoved);
    const auto listed = [&] {
        QMutexLocker lock(&mutex);
        return !listingThreads.isEmpty();
    };
    watcher.start();
    QTRY_VERIFY(listed()); // the list present at start has been taken
    {
        QMutexLocker lock(&mutex);
        ports << port(QStringLiteral("ttyUSB1"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(names(added), QStringList{"ttyUSB1"}, 2000);
    {
        QMutexLocker lock(&mutex);
        ports.removeLast();
    }
    QTRY_COMPARE_WITH_TIMEOUT(names(removed), QStringList{"ttyUSB1"}, 2000);
    {
        QMutexLocker lock(&mutex);
        QVERIFY(!listingThreads.contains(QThread::currentThread()));
    }

    watcher.stop();
    {
        QMutexLocker lock(&mutex);
        ports << port(QStringLiteral("ttyUSB2"));
    }
    QVERIFY(!added.wait(3 * msOf(fast.portPoll)));
}

void TestLine::listingOnlyWhenSomethingMayHaveChanged()
{
    const qint64 settle = Timing().listingSettle.count();
    const qint64 refresh = Timing().listingRefresh.count();
    ListingSchedule schedule(Timing().listingSettle, Timing().listingRefresh);
    QVERIFY(schedule.needsListing("a", 0));          // the first look lists
    QVERIFY(schedule.needsListing("a", settle - 1)); // details may still come in
    QVERIFY(!schedule.needsListing("a", settle));
    QVERIFY(!schedule.needsListing("a", settle - 1 + refresh - 1));
    QVERIFY(schedule.needsListing("a", settle - 1 + refresh)); // now and then anyway
    QVERIFY(!schedule.needsListing("a", settle + refresh));
    // A change lists at once and for the whole settling time after it.
    const qint64 changed = 2 * refresh;
    QVERIFY(schedule.needsListing("b", changed));
    QVERIFY(schedule.needsListing("b", changed + settle - 1));
    QVERIFY(!schedule.needsListing("b", changed + settle));
    QVERIFY(schedule.needsListing("a", changed + settle + 1)); // and back
    // No signature: every look lists.
    ListingSchedule blind(Timing().listingSettle, Timing().listingRefresh);
    for (qint64 at = 0; at < 3 * refresh; at += settle)
        QVERIFY(blind.needsListing(QByteArray(), at));
}

// With a signature that stands the watcher stops listing once the settling
// time is over; a changed signature lists again, at the next look, and so
// does a look asked for (a job failed: its modem may have been pulled).
void TestLine::watcherSkipsListingsWhileTheSignatureStands()
{
    QMutex mutex;
    QList<PortEntry> ports{port(QStringLiteral("ttyUSB0"))};
    QByteArray signature = "one";
    PortWatcher watcher(PortLister(
                            [&] {
                                QMutexLocker lock(&mutex);
                                return ports;
                            },
                            true,
                            [&] {
                                QMutexLocker lock(&mutex);
                                return signature;
                            }),
                        fast);
    QSignalSpy added(&watcher, &PortWatcher::signal_portAdded);
    QSignalSpy removed(&watcher, &PortWatcher::signal_portRemoved);
    QElapsedTimer clock;
    clock.start();
    watcher.start();
    QTest::qWait(msOf(fast.listingSettle + fast.portPoll));
    {
        QMutexLocker lock(&mutex);
        ports << port(QStringLiteral("ttyUSB1"));
    }
    QVERIFY(!added.wait(3 * msOf(fast.portPoll))); // not listed: nothing seemed to change
    QVERIFY(clock.elapsed() < msOf(fast.listingSettle + fast.listingRefresh));
    watcher.lookNow();
    QTRY_COMPARE_WITH_TIMEOUT(names(added), QStringList{"ttyUSB1"},
                              fastMs(1000) + schedulingSlackMs);
    {
        QMutexLocker lock(&mutex);
        ports << port(QStringLiteral("ttyUSB2"));
        signature = "two";
    }
    QTRY_COMPARE_WITH_TIMEOUT(names(added), (QStringList{"ttyUSB1", "ttyUSB2"}),
                              fastMs(1000) + schedulingSlackMs);
    {
        QMutexLocker lock(&mutex);
        ports.removeLast();
        signature = "three";
    }
    QTRY_COMPARE_WITH_TIMEOUT(names(removed), QStringList{"ttyUSB2"},
                              fastMs(1000) + schedulingSlackMs);
}

void TestLine::socketNumbersSurviveRestart()
{
    QTemporaryDir dir;
    const QString file = SocketNumbers::fileBeside(dir.filePath(QStringLiteral("j.csv")));
    QCOMPARE(file, dir.filePath(QStringLiteral("j.sockets")));
    {
        SocketNumbers numbers;
        QVERIFY(numbers.load(file));
        QCOMPARE(numbers.numberFor(QStringLiteral("1-1.4")), 1);
        QCOMPARE(numbers.numberFor(QStringLiteral("1-1.2")), 2);
        QCOMPARE(numbers.numberFor(QStringLiteral("1-1.4")), 1);
    }
    // As the engineer edits it: blanks, an empty line, a line end of CR LF, a number of theirs.
    QFile edited(file);
    QVERIFY(edited.open(QIODevice::Append));
    edited.write("\r\n 7 ; 1-3 \r\n");
    edited.close();
    SocketNumbers numbers;
    QVERIFY(numbers.load(file));
    QCOMPARE(numbers.count(), 3);
    QCOMPARE(numbers.numberFor(QStringLiteral("1-3")), 7);
    QCOMPARE(numbers.numberFor(QStringLiteral("ttyS0")), 8);
    SocketNumbers again;
    QVERIFY(again.load(file));
    QCOMPARE(again.numberFor(QStringLiteral("ttyS0")), 8);
    QCOMPARE(readAll(file), QByteArray("1;1-1.4\n2;1-1.2\n7;1-3\n8;ttyS0\n"));

    // A number from the hub's label: a free one only.
    QString refused;
    QVERIFY(!again.renumber(QStringLiteral("1-1.2"), 7, &refused));
    QCOMPARE(refused, QStringLiteral("Номер 7 уже у другого гнезда"));
    QVERIFY(!again.renumber(QStringLiteral("1-1.2"), 10000, &refused));
    QVERIFY(again.renumber(QStringLiteral("1-1.2"), 12, &refused));
    QCOMPARE(again.numberFor(QStringLiteral("1-1.2")), 12);
    QCOMPARE(again.numberFor(QStringLiteral("1-5")), 13);

    // Past 9999 the lowest free number is given.
    QVERIFY(SocketNumbers::write(file, "9999;1-9\n1;1-1\n", nullptr));
    SocketNumbers full;
    QVERIFY(full.load(file));
    QCOMPARE(full.numberFor(QStringLiteral("1-2")), 2);

    // A numbers file that cannot be read or written is said, with its name.
    QString error;
    SocketNumbers unreadable;
    QVERIFY(!unreadable.load(dir.path(), &error));
    QVERIFY2(error.startsWith(QStringLiteral("Файл номеров гнёзд ") + dir.path() +
                              QStringLiteral(": не удалось прочитать")),
             qPrintable(error));
    const QString lost = dir.filePath(QStringLiteral("missing/j.sockets"));
    SocketNumbers unwritable;
    QVERIFY(unwritable.load(lost, &error));
    QCOMPARE(unwritable.numberFor(QStringLiteral("1-1"), &error), 1);
    QCOMPARE(error, QStringLiteral("Не удалось сохранить номера гнёзд в файл ") + lost);
}

void TestLine::socketNumbersRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("problem");
    QTest::newRow("one number, two ports")
        << QByteArray("1;ttyUSB11\n1;ttyUSB12\n") << "строка 2: номер 1 уже дан в строке 1";
    QTest::newRow("one port, two numbers") << QByteArray("1;1-1.4\n2;1-1.2\n3;1-1.4\n")
                                           << "строка 3: позиция 1-1.4 уже названа в строке 1";
    QTest::newRow("too large") << QByteArray("2147483647;ttyUSB20\n")
                               << "строка 1: номер гнезда 2147483647 не от 1 до 9999";
    QTest::newRow("over 9999") << QByteArray("1;a\n10000;b\n")
                               << "строка 2: номер гнезда 10000 не от 1 до 9999";
    QTest::newRow("zero") << QByteArray("0;1-5\n") << "строка 1: номер гнезда 0 не от 1 до 9999";
    QTest::newRow("negative") << QByteArray("-4;1-6\n") << "строка 1: не «номер;позиция»: -4;1-6";
    QTest::newRow("no position") << QByteArray("7;\n") << "строка 1: не «номер;позиция»: 7;";
    QTest::newRow("garbage with a control character")
        << QByteArray("ok;\x1b[2J\n") << "строка 1: не «номер;позиция»: ok;\\x1b[2J";
    QTest::newRow("a line without end")
        << QByteArray("1;") + QByteArray(300, 'x') << "строка 1: длиннее 256 знаков";
    QTest::newRow("over a megabyte")
        << QByteArray((1 << 20) + 1, '\n') << "больше 1 МБ: это не файл номеров";
}

// Refused whole at the start, with the line to mend, and nothing of it kept.
void TestLine::socketNumbersRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("j.sockets"));
    QVERIFY(SocketNumbers::write(file, bytes, nullptr));
    SocketNumbers numbers;
    QString error;
    QVERIFY(!numbers.load(file, &error));
    QVERIFY2(error.startsWith(QStringLiteral("Файл номеров гнёзд ") + file + QStringLiteral(": ") +
                              problem + QStringLiteral(". Исправьте файл")),
             qPrintable(error));
    QCOMPARE(numbers.count(), 0);
}

void TestLine::journalLinesBomOnceFlushedAtOnce()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.csv"));
    const QDateTime now(QDate(2026, 3, 4), QTime(9, 15, 7));
    QString error;
    {
        Journal journal;
        journal.setClock([now] { return now; });
        journal.setVersion(QStringLiteral("1.08"));
        journal.setBench(QStringLiteral("Стенд 2"));
        QVERIFY(journal.open(file, &error));
        JournalRecord failed = record(QString(), JournalRecord::Result::Unplugged, 2);
        failed.step = QStringLiteral("файл main.pyo");
        failed.text = QStringLiteral("=cmd|' /C calc'!A0");
        failed.fileHashes = QStringList{QStringLiteral("settings.ini:ab12")};
        failed.settingsFile = QStringLiteral("bench.ini");
        failed.settingsHash = QStringLiteral("ab12");
        failed.tableRow = 7;
        failed.recordId = QStringLiteral("5b0e4c1a-8f2d-4e57-9a0b-3c6d7e8f9a01");
        QVERIFY(journal.append(failed, &error));
        // On the disk before the journal is closed.
        QVERIFY(readAll(file).endsWith("\r\n"));
        QCOMPARE(readAll(file).count("\r\n"), 2);
    }
    Journal reopened;
    reopened.setClock([now] { return now; });
    QVERIFY(reopened.open(file, &error));
    QVERIFY(reopened.append(
        record(QStringLiteral("490154203237518"), JournalRecord::Result::Success), &error));
    const QByteArray bytes = readAll(file);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(bytes.count("\xEF\xBB\xBF"), 1);
    const QList<QByteArray> lines = bytes.mid(3).split('\n');
    QCOMPARE(lines.size(), 4); // header, two records, nothing after the last CR LF
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines.at(0), Journal::header().chopped(1));
    QCOMPARE(QString::fromUtf8(lines.at(1)),
             QStringLiteral(
                 "2026-03-04 09:15:07;Стенд 2;2;ttyUSB0;\"A10K;\"\"x\"\"\";;flash;"
                 "модем отключён;файл main.pyo;'=cmd|' /C calc'!A0;47;v1.08;"
                 "bench.ini;7;ab12;settings.ini:ab12;5b0e4c1a-8f2d-4e57-9a0b-3c6d7e8f9a01\r"));
    const QStringList fields = Journal::splitLine(QString::fromUtf8(lines.at(2)).trimmed());
    QCOMPARE(fields.size(), int(Journal::ColumnCount));
    QCOMPARE(fields.at(Journal::ColumnBench), QSysInfo::machineHostName()); // none set
    QCOMPARE(fields.at(Journal::ColumnSerialNumber), QStringLiteral("A10K;\"x\""));
    QCOMPARE(fields.at(Journal::ColumnImei), QStringLiteral("490154203237518"));
    QCOMPARE(fields.at(Journal::ColumnResult), QStringLiteral("успех"));
    QCOMPARE(fields.at(Journal::ColumnVersion), QString());  // no version set
    QCOMPARE(fields.at(Journal::ColumnTableRow), QString()); // no table
    // A fresh id for a record without one.
    const QUuid id = QUuid::fromString(fields.at(Journal::ColumnRecordId));
    QVERIFY(!id.isNull());
    QCOMPARE(id.toString(QUuid::WithoutBraces), fields.at(Journal::ColumnRecordId));

    // A report reads the table's row back by its column's name.
    JournalReader reader;
    QVERIFY2(reader.read(file, &error), qPrintable(error));
    const QList<JournalReader::Row> rows = reader.rows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).tableRow, std::optional<int>(7));
    QCOMPARE(rows.at(0).settingsName, QStringLiteral("bench.ini"));
    QCOMPARE(rows.at(0).settingsSha256, QStringLiteral("ab12"));
    QVERIFY(!rows.at(1).tableRow);
}

// What a spreadsheet or a script reading the journal gets back: every field as
// written, whatever separators or quotes it holds; a line break inside a field
// is shown escaped, so every record stays one line.
void TestLine::journalFieldsSurviveSeparatorsQuotesAndBreaks()
{
    QCOMPARE(Journal::header(),
             QStringLiteral("Дата и время;Стенд;Гнездо;Порт;Серийный номер адаптера;IMEI;"
                            "Задание;Результат;Шаг;Текст;Длительность, с;Версия;Файл настроек;"
                            "Строка таблицы;SHA-256 настроек;SHA-256;Запись\r\n")
                 .toUtf8());
    QCOMPARE(Journal::splitLine(QStringLiteral("a;\"b\"\"\";\"c\"\"\"")),
             (QStringList{"a", "b\"", "c\""}));

    Journal journal;
    journal.setClock([] { return QDateTime(QDate(2026, 3, 4), QTime(9, 0)); });
    const QList<QPair<JournalRecord::Result, QString>> results{
        {JournalRecord::Result::Success, QStringLiteral("успех")},
        {JournalRecord::Result::Failure, QStringLiteral("ошибка")},
        {JournalRecord::Result::Interrupted, QStringLiteral("прервано")},
        {JournalRecord::Result::Unplugged, QStringLiteral("модем отключён")}};
    for (const auto &[result, text] : results) {
        JournalRecord r = record(QStringLiteral("490154203237518"), result);
        r.port = QStringLiteral("COM;3");
        r.serialNumber = QStringLiteral("say \"hi\"");
        r.step = QStringLiteral("at#lscript\n");
        r.text = QStringLiteral("Stop\rScript");
        const QByteArray line = journal.line(r);
        QVERIFY(line.contains(";Stop\\rScript;47;;;;;;"));
        QCOMPARE(line.count('\n'), 1);
        const QStringList fields = Journal::splitLine(QString::fromUtf8(line.chopped(2)));
        QCOMPARE(fields.size(), int(Journal::ColumnCount));
        QCOMPARE(fields.mid(Journal::ColumnPort, 2), (QStringList{r.port, r.serialNumber}));
        QCOMPARE(fields.mid(Journal::ColumnResult, 3),
                 (QStringList{text, "at#lscript\\n", "Stop\\rScript"}));
    }
}

// A field from outside (an adapter's serial, a modem's text, a port's name)
// as the journal writes it: control characters escaped as on the console, and
// no formula, also behind blanks or control characters.
void TestLine::journalFieldsFromOutside_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << "A10K7Z"
                           << "A10K7Z";
    QTest::newRow("formula") << "=1+1"
                             << "'=1+1";
    QTest::newRow("formula behind a tab") << "\t=1+1"
                                          << "'\\t=1+1";
    QTest::newRow("formula behind a CR") << "\r=1+1"
                                         << "'\\r=1+1";
    QTest::newRow("formula behind blanks") << "  @SUM(A1)"
                                           << "'  @SUM(A1)";
    QTest::newRow("plus and minus") << "-2+3"
                                    << "'-2+3";
    QTest::newRow("an escape code") << "\x1b[2J"
                                    << "\\x1b[2J";
    QTest::newRow("a separator") << "a;b"
                                 << "\"a;b\"";
    QTest::newRow("a minus inside") << "FT-232"
                                    << "FT-232";
}

void TestLine::journalFieldsFromOutside()
{
    QFETCH(QString, serial);
    QFETCH(QString, written);
    JournalRecord r = record(QString(), JournalRecord::Result::Failure);
    r.serialNumber = serial;
    r.port = serial;
    r.text = serial;
    Journal journal;
    journal.setBench(serial); // typed by the operator
    const QString line = QString::fromUtf8(journal.line(r));
    const QStringList fields = line.chopped(2).split(QLatin1Char(';'));
    if (!serial.contains(QLatin1Char(';')))
        QCOMPARE((QStringList{fields.at(Journal::ColumnBench), fields.at(Journal::ColumnPort),
                              fields.at(Journal::ColumnSerialNumber)}),
                 (QStringList{written, written, written}));
    QVERIFY(line.contains(QStringLiteral(";") + written + QStringLiteral(";47;;;;;;")));
    QCOMPARE(line.count(QLatin1Char('\n')), 1);
}

void TestLine::journalWarnsOfAModemFlashedToday()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.csv"));
    QDateTime now(QDate(2026, 3, 4), QTime(23, 40));
    const auto clock = [&now] { return now; };
    const QString imei = QStringLiteral("490154203237518");
    const QString other = QStringLiteral("356938035643809");
    QString error;
    Journal journal;
    journal.setClock(clock);
    QVERIFY(journal.open(file, &error));
    QVERIFY(journal.append(record(imei, JournalRecord::Result::Failure), &error));
    QVERIFY(journal.append(
        record(other, JournalRecord::Result::Success, 1, QStringLiteral("load-settings")), &error));
    QCOMPARE(journal.duplicateWarning(imei), QString());  // failed: not flashed
    QCOMPARE(journal.duplicateWarning(other), QString()); // settings only
    QVERIFY(journal.append(record(imei, JournalRecord::Result::Success, 3), &error));
    now = now.addSecs(5 * 60);
    const QString warning =
        QStringLiteral("Модем с IMEI 490154203237518 уже прошит сегодня в 23:40 (гнездо 3)");
    QCOMPARE(journal.duplicateWarning(imei), warning);
    QCOMPARE(journal.duplicateWarning(QString()), QString());

    // A restart reads it back from the file, whose last line a power cut left short.
    journal.close();
    QFile cut(file);
    QVERIFY(cut.open(QIODevice::Append));
    cut.write("2026-03-04 23:41:00;b;2;ttyUSB1;;356938035643809;flash");
    cut.close();
    Journal restarted;
    restarted.setClock(clock);
    QVERIFY(restarted.open(file, &error));
    QCOMPARE(restarted.duplicateWarning(imei), warning);
    QCOMPARE(restarted.duplicateWarning(other), QString());
    now = now.addSecs(30 * 60); // past midnight: yesterday's flash
    QCOMPARE(restarted.duplicateWarning(imei), QString());
    // The short line is ended first: the next record is a line of its own.
    QVERIFY(restarted.append(record(other, JournalRecord::Result::Success), &error));
    QVERIFY(readAll(file).contains(";flash\r\n2026-03-05 00:15:00;"));
}

void TestLine::journalThatCannotBeOpened()
{
    QTemporaryDir dir;
    QString error;
    Journal journal;
    QVERIFY(!journal.open(dir.path(), &error));
    QCOMPARE(error, QStringLiteral("Журнал ") + dir.path() + QStringLiteral(" не является файлом"));
    // A missing folder is made; one that cannot be (a file in its place) is said.
    QFile plain(dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString missing = dir.filePath(QStringLiteral("plain/journal.csv"));
    QVERIFY(!journal.open(missing, &error));
    QVERIFY2(error.startsWith(QStringLiteral("Не удалось открыть журнал ") + missing +
                              QStringLiteral(" для записи: ")),
             qPrintable(error));
    QVERIFY(!journal.append(record(QString(), JournalRecord::Result::Success), &error));
}

// A bench upgraded at noon: its morning's file is never written again, the
// lines go into the first free file beside it (one of a foreign layout
// skipped), every restart finds that same file, and the morning still counts
// for the sockets and the duplicate warning, its fields found by their
// column's names; a file without them is only left alone.
void TestLine::journalOfAnOlderLayoutIsLeftAsItIs_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("readBack");
    QTest::newRow("the first layout")
        << QByteArray("\xEF\xBB\xBF"
                      "Дата и время;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;Результат;"
                      "Шаг;Текст;Длительность, с;Версия;SHA-256\r\n"
                      "2026-03-03T17:00:00;1;ttyUSB0;;356938035643809;flash;успех;;;46;1.08;\r\n"
                      "2026-03-04T08:05:00;2;ttyUSB1;;490154203237518;flash;успех;;;46;1.08;\r\n")
        << "старого вида" << true;
    QTest::newRow("the layout before the table's row")
        << QByteArray("\xEF\xBB\xBF"
                      "Дата и время;Стенд;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;"
                      "Результат;Шаг;Текст;Длительность, с;Версия;Файл настроек;"
                      "SHA-256 настроек;SHA-256;Запись\r\n"
                      "2026-03-03 17:00:00;Стенд 2;1;ttyUSB0;;356938035643809;flash;успех;;"
                      "Модем прошит;46;v1.08;;;main.pyo:ab;r-1\r\n"
                      "2026-03-04 08:05:00;Стенд 2;2;ttyUSB1;;490154203237518;flash;успех;;"
                      "Модем прошит;46;v1.08;bench.ini;5e88;main.pyo:ab;r-2\r\n")
        << "старого вида" << true;
    QTest::newRow("the fields in another order, no text")
        << QByteArray("Примечание;IMEI;Дата и время;Результат;Задание;Гнездо\r\n"
                      "x;356938035643809;2026-03-03 17:00:00;успех;flash;1\r\n"
                      ";490154203237518;2026-03-04 08:05:00;успех;flash;2\r\n")
        << "другого вида" << true;
    QTest::newRow("no socket column")
        << QByteArray("Дата и время;IMEI;Задание;Результат\r\n"
                      "2026-03-04 08:05:00;490154203237518;flash;успех\r\n")
        << "другого вида" << false;
}

void TestLine::journalOfAnOlderLayoutIsLeftAsItIs()
{
    QFETCH(QByteArray, old);
    QFETCH(QString, kind);
    QFETCH(bool, readBack);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.csv"));
    const QString foreign = dir.filePath(QStringLiteral("journal-2.csv"));
    const QString beside = dir.filePath(QStringLiteral("journal-3.csv"));
    writeAll(file, old);
    writeAll(foreign, "Номер;Имя\r\n1;x\r\n");
    const QDateTime noon(QDate(2026, 3, 4), QTime(12, 0));
    const QString note = QStringLiteral("Журнал ") + file + QLatin1Char(' ') + kind +
                         QStringLiteral(" оставлен как есть: записи идут в ") + beside;
    const QString warning = readBack ? QStringLiteral("Модем с IMEI 490154203237518 уже прошит "
                                                      "сегодня в 08:05 (гнездо 2)")
                                     : QString();
    for (int start = 1; start <= 2; ++start) {
        Journal journal;
        journal.setClock([noon] { return noon; });
        QString error;
        QVERIFY2(journal.open(file, &error), qPrintable(error));
        QCOMPARE(journal.fileName(), beside);
        QCOMPARE(journal.openNote(), note);
        const QList<JournalRecord> today = journal.todaysRecords();
        QCOMPARE(today.size(), readBack ? start : start - 1);
        if (readBack)
            QCOMPARE(today.first().socket, 2);
        QCOMPARE(journal.duplicateWarning(QStringLiteral("490154203237518")), warning);
        QCOMPARE(journal.duplicateWarning(QStringLiteral("356938035643809")), QString());
        QVERIFY(journal.append(record(QString(), JournalRecord::Result::Failure), &error));
    }
    QCOMPARE(readAll(file), old);
    QCOMPARE(readAll(foreign), QByteArray("Номер;Имя\r\n1;x\r\n"));
    const QByteArray written = readAll(beside);
    QVERIFY(written.startsWith("\xEF\xBB\xBF" + Journal::header()));
    QCOMPARE(written.count("\r\n"), 3);
    // An export of the journal takes every file that holds its lines.
    QCOMPARE(Journal::withBesideFiles(file), QStringList({file, beside}));
}

// Upgraded twice: the journal went on beside its first file, and now goes on
// beside that one too; the day's lines of both older files still count, and
// the export takes all three.
void TestLine::journalUpgradedTwiceReadsBothOlderFiles()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.csv"));
    const QString second = dir.filePath(QStringLiteral("journal-2.csv"));
    const QString third = dir.filePath(QStringLiteral("journal-3.csv"));
    const QByteArray first =
        "Дата и время;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;Результат;Шаг;Текст;"
        "Длительность, с;Версия;SHA-256\r\n"
        "2026-03-04T07:00:00;1;ttyUSB0;;356938035643809;flash;успех;;;46;1.08;\r\n";
    const QByteArray before =
        "\xEF\xBB\xBF"
        "Дата и время;Стенд;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;Результат;Шаг;"
        "Текст;Длительность, с;Версия;Файл настроек;SHA-256 настроек;SHA-256;Запись\r\n"
        "2026-03-04 10:00:00;Стенд 2;3;ttyUSB2;;490154203237518;flash;успех;;Модем прошит;46;"
        "v1.08;;;main.pyo:ab;r-2\r\n";
    writeAll(file, first);
    writeAll(second, before);
    Journal journal;
    journal.setClock([] { return QDateTime(QDate(2026, 3, 4), QTime(12, 0)); });
    QString error;
    QVERIFY2(journal.open(file, &error), qPrintable(error));
    QCOMPARE(journal.fileName(), third);
    QCOMPARE(journal.openNote(), QStringLiteral("Журнал ") + file +
                                     QStringLiteral(" старого вида оставлен как есть: записи "
                                                    "идут в ") +
                                     third);
    const QList<JournalRecord> today = journal.todaysRecords();
    QCOMPARE(today.size(), 2);
    QCOMPARE(today.at(0).socket, 1);
    QCOMPARE(today.at(1).socket, 3);
    QCOMPARE(today.at(1).text, QStringLiteral("Модем прошит"));
    QCOMPARE(journal.duplicateWarning(QStringLiteral("356938035643809")),
             QStringLiteral("Модем с IMEI 356938035643809 уже прошит сегодня в 07:00 (гнездо 1)"));
    QCOMPARE(journal.duplicateWarning(QStringLiteral("490154203237518")),
             QStringLiteral("Модем с IMEI 490154203237518 уже прошит сегодня в 10:00 (гнездо 3)"));
    QVERIFY(journal.append(record(QString(), JournalRecord::Result::Failure), &error));
    QCOMPARE(readAll(file), first);
    QCOMPARE(readAll(second), before);
    const QStringList files = Journal::withBesideFiles(file);
    QCOMPARE(files, QStringList({file, second, third}));
    JournalReader reader;
    for (const QString &name : files)
        QVERIFY2(reader.read(name, &error), qPrintable(error));
    QCOMPARE(reader.rows().size(), 3);
}

void TestLine::hintsForAPortThatDoesNotOpen_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QStringList>("grabbers");
    QTest::addColumn<QString>("text");
    using R = OpenFailureHint::Reason;
    QTest::newRow("vanished") << int(R::Vanished) << "" << QStringList{}
                              << "Порт /dev/ttyUSB0 исчез: проверьте кабель и подключите "
                                 "адаптер снова";
    QTest::newRow("no permission")
        << int(R::NoPermission) << "uucp" << QStringList{}
        << "Порт /dev/ttyUSB0: нет прав; добавьте пользователя в группу uucp (sudo usermod -aG "
           "uucp $USER), затем выйдите из системы и войдите снова";
    QTest::newRow("held by minicom, ModemManager running")
        << int(R::Held) << "minicom" << QStringList{"ModemManager"}
        << "Порт /dev/ttyUSB0 занят другой программой (minicom): закройте её и подключите модем "
           "снова. Запущен ModemManager: он захватывает новые USB-порты, остановите его";
    QTest::newRow("no permission, group unknown")
        << int(R::NoPermission) << "" << QStringList{}
        << "Порт /dev/ttyUSB0: нет прав; добавьте пользователя в группу dialout (sudo usermod -aG "
           "dialout $USER), затем выйдите из системы и войдите снова";
    QTest::newRow("held by two, two grabbers")
        << int(R::Held) << "minicom, screen" << QStringList{"brltty", "ModemManager"}
        << "Порт /dev/ttyUSB0 занят другой программой (minicom, screen): закройте её и подключите "
           "модем снова. Запущен brltty, ModemManager: он захватывает новые USB-порты, остановите "
           "его";
    QTest::newRow("held, nobody found")
        << int(R::Held) << "" << QStringList{}
        << "Порт /dev/ttyUSB0 занят другой программой: закройте её и подключите модем снова";
}

void TestLine::hintsForAPortThatDoesNotOpen()
{
    QFETCH(int, reason);
    QFETCH(QString, detail);
    QFETCH(QStringList, grabbers);
    QFETCH(QString, text);
    QCOMPARE(OpenFailureHint::text(OpenFailureHint::Reason(reason), QStringLiteral("/dev/ttyUSB0"),
                                   detail, grabbers),
             text);
}

// A /proc of three processes: one holds the device, one is brltty, one is neither.
void TestLine::hintNamesHoldersAndGrabbersFromProc()
{
#ifndef Q_OS_UNIX
    QSKIP("/proc and device files are Linux's");
#endif
    QTemporaryDir proc;
    const QString device = proc.filePath(QStringLiteral("ttyUSB0"));
    QFile(device).open(QIODevice::WriteOnly);
    const auto process = [&proc](const QString &pid, const QByteArray &name) {
        QDir(proc.path()).mkpath(pid + QStringLiteral("/fd"));
        QFile comm(proc.filePath(pid + QStringLiteral("/comm")));
        comm.open(QIODevice::WriteOnly);
        comm.write(name + '\n');
        return proc.filePath(pid + QStringLiteral("/fd/"));
    };
    QVERIFY(QFile::link(device, process(QStringLiteral("412"), "minicom") + QStringLiteral("3")));
    QVERIFY(QFile::link(device, process(QStringLiteral("413"), "minicom") + QStringLiteral("4")));
    QVERIFY(QFile::link(device, process(QStringLiteral("500"), "screen") + QStringLiteral("5")));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"),
                        process(QStringLiteral("77"), "brltty") + QStringLiteral("0")));
    process(QStringLiteral("78"), "ModemManager");
    process(QStringLiteral("self"), "gpsd"); // not a process directory
    const OpenFailureHint hint(proc.path());
    QCOMPARE(hint.holders(device), (QStringList{"minicom", "screen"}));
    QCOMPARE(hint.grabbers(), (QStringList{"brltty", "ModemManager"}));
    // The operator may name the device through a link, as /dev/serial/by-id does.
    const QString byId = proc.filePath(QStringLiteral("by-id"));
    QVERIFY(QFile::link(device, byId));
    QVERIFY(hint.explain(byId).contains(QStringLiteral("(minicom, screen)")));
    QVERIFY(hint.explain(device).endsWith(QStringLiteral("Запущен brltty, ModemManager: он "
                                                         "захватывает новые USB-порты, остановите "
                                                         "его")));
    QVERIFY(hint.explain(device + QStringLiteral("x")).contains(QStringLiteral(" исчез")));
}

// Qt's serial port will not open a port whose lock file names a live
// process, whatever else the device says: the hint names that process, and
// nobody for a lock Qt takes over by itself or for what is no lock file.
// Another user's process, whose program the system does not show, is named
// by the file only as far as the kernel's name for it agrees.
void TestLine::hintNamesTheLiveWriterOfALockFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("placed"); // a file, a link to one, a FIFO
    QTest::addColumn<QString>("comm");   // the name in a /proc that shows no program; "": /proc
    QTest::addColumn<QString>("holder");
    const QByteArray live("$pid\n$exe\n$host\n$machine\n$boot\n");
    const QString us("$exe, PID $pid");
    QTest::newRow("as Qt 5.15 writes it") << live << "file"
                                          << "" << us;
    QTest::newRow("as Qt before 5.10 wrote it") << QByteArray("$pid\n$exe\n$host\n") << "file"
                                                << "" << us;
    QTest::newRow("a UUCP lock") << QByteArray("      $pid minicom root\n") << "file"
                                 << "" << us;
    QTest::newRow("its writer has ended") << QByteArray("$dead\nlorta-flash\n$host\n") << "file"
                                          << ""
                                          << "";
    QTest::newRow("its PID runs another program now")
        << QByteArray("$pid\nlorta-flash\n$host\n") << "file"
        << ""
        << "";
    QTest::newRow("written on another machine") << QByteArray("$pid\n$exe\nelsewhere\n") << "file"
                                                << ""
                                                << "";
    QTest::newRow("written before the last boot")
        << QByteArray("$pid\n$exe\n$host\n$machine\n00000000-0000-0000-0000-000000000000\n")
        << "file"
        << ""
        << "";
    QTest::newRow("not a lock") << QByteArray("LCK\n") << "file"
                                << ""
                                << "";
    QTest::newRow("a link to a lock") << live << "link"
                                      << ""
                                      << "";
    QTest::newRow("a FIFO") << live << "fifo"
                            << ""
                            << "";
    QTest::newRow("another user's, as the kernel names it")
        << QByteArray("$pid\nlorta-flash-bench\n$host\n") << "file"
        << "lorta-flash-ben"
        << "lorta-flash-bench, PID $pid";
    QTest::newRow("another user's, named otherwise")
        << QByteArray("$pid\nnot-what-runs\n$host\n") << "file"
        << "lorta-flash-ben"
        << "lorta-flash-ben, PID $pid";
}

void TestLine::hintNamesTheLiveWriterOfALockFile()
{
#ifndef Q_OS_UNIX
    QSKIP("Qt's lock files for serial ports are Unix's");
#else
    QFETCH(QByteArray, content);
    QFETCH(QString, placed);
    QFETCH(QString, comm);
    QFETCH(QString, holder);
    PseudoTerminal terminal;
    QVERIFY(!terminal.slave().isEmpty());
    const QString lockFile = OpenFailureHint::qtLockFile(terminal.slave());
    if (lockFile.isEmpty())
        QSKIP("no lock directory of Qt's may be written here");
    const qint64 dead = endedPid();
    QVERIFY(dead > 0);
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    content.replace("$pid", pid)
        .replace("$dead", QByteArray::number(dead))
        .replace("$exe", thisProgram().toUtf8())
        .replace("$host", QSysInfo::machineHostName().toUtf8())
        .replace("$machine", QSysInfo::machineUniqueId())
        .replace("$boot", QSysInfo::bootUniqueId());
    holder.replace(QLatin1String("$pid"), QString::fromLatin1(pid))
        .replace(QLatin1String("$exe"), thisProgram());
    QTemporaryDir dir;
    QString procRoot = QStringLiteral("/proc");
    if (!comm.isEmpty()) {
        procRoot = dir.filePath(QStringLiteral("proc"));
        QVERIFY(QDir().mkpath(procRoot + QLatin1Char('/') + QString::fromLatin1(pid)));
        QFile name(procRoot + QLatin1Char('/') + QString::fromLatin1(pid) +
                   QStringLiteral("/comm"));
        QVERIFY(name.open(QIODevice::WriteOnly));
        name.write(comm.toUtf8() + '\n');
    }
    QFile lock(placed == QLatin1String("link") ? dir.filePath(QStringLiteral("lock")) : lockFile);
    bool placedHere = false;
    if (placed == QLatin1String("fifo"))
        placedHere = QProcess::execute(QStringLiteral("mkfifo"), {lockFile}) == 0;
    else if (lock.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        placedHere = lock.fileName() == lockFile || QFile::link(lock.fileName(), lockFile);
    QVERIFY(placedHere);
    const auto remove = qScopeGuard([&lockFile] { QFile::remove(lockFile); });
    // Open at both ends and filled, the FIFO cannot block even a reader that
    // should leave it alone: that one names the writer.
    if (placed == QLatin1String("fifo"))
        QVERIFY(openPlainly(lockFile, lock));
    QCOMPARE(lock.write(content), content.size());
    QVERIFY(lock.flush());
    const OpenFailureHint hint(procRoot);
    QCOMPARE(hint.explain(terminal.slave()), heldText(terminal.slave(), holder, hint));
    // The lock is named after the device, whatever link the port is named by.
    const QString link = dir.filePath(QStringLiteral("modem"));
    QVERIFY(QFile::link(terminal.slave(), link));
    QCOMPARE(hint.explain(link), heldText(link, holder, hint));
#endif
}

// The operator window holds its port as SerialPort does: Qt's lock file, the
// device open and a lock on it, all one process, named once. The lock file
// is where Qt put it; once the device is gone for real, it has vanished.
void TestLine::hintNamesTheQtProgramHoldingAPort()
{
#ifndef Q_OS_UNIX
    QSKIP("Qt's lock files for serial ports are Unix's");
#else
    PseudoTerminal terminal;
    const QString device = terminal.slave();
    QVERIFY(!device.isEmpty());
    const QString lockFile = OpenFailureHint::qtLockFile(device);
    if (lockFile.isEmpty())
        QSKIP("no lock directory of Qt's may be written here, so no port opens");
    SerialPort port(fast.worker);
    const auto stop = qScopeGuard([&port] {
        port.stopPort();
        port.wait();
    });
    port.setPortSettings(device, ModemLine::baudRate);
    port.startPort();
    QTRY_VERIFY(port.isPortOpened());
    QVERIFY2(QFile::exists(lockFile), qPrintable(lockFile));
    QCOMPARE(OpenFailureHint().explain(device), heldText(device, thisProcess()));

    port.stopPort();
    port.wait();
    QVERIFY(!QFile::exists(lockFile));
    terminal.close();
    QTRY_VERIFY(!QFileInfo::exists(device));
    QVERIFY(OpenFailureHint().explain(device).startsWith(QStringLiteral("Порт ") + device +
                                                         QStringLiteral(" исчез")));
#endif
}

// Without a lock file: a terminal program with the port open is named from
// /proc, the holder of a lock on the device with its PID too. One the system
// shows nothing of still holds it, unnamed.
void TestLine::hintNamesWhoHoldsTheDeviceItself()
{
#ifndef Q_OS_UNIX
    QSKIP("/proc and device files are Linux's");
#else
    PseudoTerminal terminal;
    QVERIFY(!terminal.slave().isEmpty());
    QFile opened;
    QVERIFY(openPlainly(terminal.slave(), opened));
    QCOMPARE(OpenFailureHint().explain(terminal.slave()),
             heldText(terminal.slave(), thisProgram()));
    QTemporaryDir emptyProc;
    const OpenFailureHint blind(emptyProc.path());
    QCOMPARE(blind.explain(terminal.slave()), heldText(terminal.slave(), QString(), blind));

    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyUSB0"));
    AppendJournal locked;
    QString reason;
    QVERIFY2(locked.openRegular(device, &reason), qPrintable(reason));
    QVERIFY(locked.holdExclusively());
    QProcess reader;
    reader.setStandardInputFile(device);
    reader.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(reader.waitForStarted());
    const auto end = qScopeGuard([&reader] {
        reader.kill();
        reader.waitForFinished();
    });
    QCOMPARE(OpenFailureHint().explain(device),
             heldText(device, thisProcess() + QStringLiteral("; sleep")));
#endif
}

void TestLine::watchArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // empty: accepted
    QTest::newRow("all") << QStringList{"flash",        "--match",
                                        "0403:6001",    "--match",
                                        "10c4:ea60",    "--include-present",
                                        "--settings",   "s.ini",
                                        "--journal",    "j.csv",
                                        "--count",      "3",
                                        "--json",       "--answer-within",
                                        "1.5",          "--gone-after",
                                        "2.5",          "--again",
                                        "--quarantine", "0",
                                        "--bench",      "Стенд 2"}
                         << "";
    QTest::newRow("no job") << QStringList{} << "watch: нужно задание flash или load-settings";
    QTest::newRow("read job") << QStringList{"read-settings"}
                              << "watch: нужно задание flash или load-settings";
    QTest::newRow("bad match") << QStringList{"flash", "--match", "FTDI"}
                               << "--match: нужно VID:PID в шестнадцатеричном виде, например "
                                  "0403:6001: FTDI";
    QTest::newRow("zero count") << QStringList{"flash", "--count", "0"}
                                << "--count: нужно целое число от 1 до 1000000: 0";
    QTest::newRow("no value") << QStringList{"load-settings", "--journal"}
                              << "нет значения у параметра --journal";
    QTest::newRow("port") << QStringList{"flash", "--port", "x"} << "неизвестный параметр: --port";
    QTest::newRow("empty journal")
        << QStringList{"flash", "--journal", ""} << "пустое значение у параметра --journal";
    QTest::newRow("count with a blank") << QStringList{"flash", "--count", " 5"}
                                        << "--count: нужно целое число от 1 до 1000000:  5";
    QTest::newRow("count with a sign") << QStringList{"flash", "--count", "+5"}
                                       << "--count: нужно целое число от 1 до 1000000: +5";
    const QString seconds =
        QStringLiteral("--answer-within: нужно число секунд от 1 до 86400 (0 — без предела): ");
    QTest::newRow("answer limit under a second")
        << QStringList{"flash", "--answer-within", "0.5"} << seconds + "0.5";
    QTest::newRow("answer limit too long")
        << QStringList{"flash", "--answer-within", "86401"} << seconds + "86401";
    QTest::newRow("answer limit with a comma")
        << QStringList{"flash", "--answer-within", "1,5"} << seconds + "1,5";
    QTest::newRow("silence under a second")
        << QStringList{"flash", "--gone-after", "0.2"}
        << "--gone-after: нужно число секунд от 1 до 86400 (0 — без предела): 0.2";
    QTest::newRow("quarantine with a sign")
        << QStringList{"flash", "--quarantine", "-1"}
        << "--quarantine: нужно целое число от 0 до 999 (0 — не отключать гнёзда): -1";
    // Every file of the run is a file of its own.
    QTest::newRow("journal is the settings file")
        << QStringList{"flash", "--journal", "settings.ini"}
        << "один и тот же файл settings.ini для --settings и для --journal";
    QTest::newRow("journal is its own numbers file")
        << QStringList{"flash", "--journal", "x.sockets"}
        << "один и тот же файл x.sockets для --journal и для номеров гнёзд журнала";
    QTest::newRow("settings are the numbers file")
        << QStringList{"load-settings", "--settings", "j.sockets", "--journal", "j.csv"}
        << "один и тот же файл j.sockets для --settings и для номеров гнёзд журнала";
    QTest::newRow("journal through a link to the settings")
        << QStringList{"flash", "--settings", "LINK_TARGET", "--journal", "LINK"}
        << "один и тот же файл LINK для --settings и для --journal";
    // Links that point at each other end, and still name one file.
    QTest::newRow("a loop of links twice")
        << QStringList{"flash", "--settings", "LOOP", "--journal", "LOOP"}
        << "один и тот же файл LOOP для --settings и для --journal";
}

void TestLine::watchArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("s.ini"));
    const QString link = dir.filePath(QStringLiteral("journal.csv"));
#ifndef Q_OS_UNIX
    if (arguments.contains(QStringLiteral("LINK")) || arguments.contains(QStringLiteral("LOOP")))
        QSKIP("Windows makes a shortcut, not a link the system follows");
#endif
    QVERIFY(QFile::link(target, link)); // a link to a file not yet written
    const QString loop = dir.filePath(QStringLiteral("loop-a"));
    if (arguments.contains(QStringLiteral("LOOP"))) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("loop-b")), loop) &&
                QFile::link(loop, dir.filePath(QStringLiteral("loop-b"))));
    }
    arguments.replaceInStrings(QStringLiteral("LOOP"), loop);
    error.replace(QStringLiteral("LOOP"), loop);
    arguments.replaceInStrings(QStringLiteral("LINK_TARGET"), target);
    arguments.replaceInStrings(QStringLiteral("LINK"), link);
    error.replace(QStringLiteral("LINK"), link);
    QString reason;
    const std::optional<WatchArguments> parsed = WatchArguments::parse(arguments, &reason);
    QCOMPARE(reason, error);
    QCOMPARE(parsed.has_value(), error.isEmpty());
    if (!parsed)
        return;
    const WatchOptions &options = parsed->options;
    QCOMPARE(options.job, OperationType::Flash);
    QVERIFY(options.includePresent && parsed->json && parsed->settingsGiven);
    QCOMPARE(options.journalFile, QStringLiteral("j.csv"));
    QCOMPARE(options.settingsFile, QStringLiteral("s.ini"));
    QCOMPARE(options.count, 3);
    QCOMPARE(options.answerWithinMs, 1500);
    QCOMPARE(options.goneAfterMs, 2500);
    QVERIFY(options.again);
    QCOMPARE(options.quarantine, 0);
    QCOMPARE(options.benchName, QStringLiteral("Стенд 2"));
    const WatchOptions defaults = WatchArguments::parse({"flash"}, &reason)->options;
    QVERIFY(!defaults.again && defaults.goneAfterMs == 10000 && defaults.quarantine == 3);
    QVERIFY(defaults.benchName.isEmpty()); // the computer's name
    QCOMPARE(
        WatchArguments::parse({"flash", "--answer-within", "0"}, &reason)->options.answerWithinMs,
        0);
    PortEntry other = port(QStringLiteral("ttyUSB0"), 0x10c4, 0xea60);
    QVERIFY(options.filter.matches(other) && !options.filter.matches(port("x", 0x0403, 0xfe72)));
}

// No figure in the first five minutes (two quick successes are not 720 an
// hour); then the successes since the start, then those of the last hour only.
void TestLine::yieldCountsSuccessesOfTheLastHour()
{
    constexpr qint64 minute = 60 * 1000;
    YieldMeter meter;
    meter.noteSuccess(10 * 1000);
    meter.noteSuccess(20 * 1000);
    QVERIFY(!meter.perHour(5 * minute - 1));
    QCOMPARE(meter.perHourText(4 * minute), QStringLiteral("—"));
    QCOMPARE(*meter.perHour(5 * minute), 24.0);
    QCOMPARE(meter.perHourText(10 * minute), QStringLiteral("12.0"));
    QCOMPARE(*meter.perHour(60 * minute), 2.0);
    for (int i = 1; i <= 30; ++i)
        meter.noteSuccess(60 * minute + i * minute); // one a minute in the second hour
    QCOMPARE(*meter.perHour(90 * minute), 30.0);     // the first two are out of the window
    QCOMPARE(*meter.perHour(150 * minute), 0.0);
}

// What a socket does with the modem answering, after what it has seen there:
// "s" a success, "f" a failure (each of the IMEI given), "l" the modem left,
// "n" a modem that never answered.
void TestLine::socketTellsANewModemByItsImei_data()
{
    QTest::addColumn<QString>("history");
    QTest::addColumn<bool>("again");
    QTest::addColumn<QString>("imei"); // of the modem answering now
    QTest::addColumn<int>("turn");
    using T = SocketMemory::Turn;
    const QString a = QStringLiteral("490154203237518");
    const QString b = QStringLiteral("356938035643809");
    QTest::newRow("first modem") << "" << false << a << int(T::Job);
    QTest::newRow("success answering again") << "sA" << false << a << int(T::FlashedHere);
    QTest::newRow("success back after it left") << "sAl" << false << a << int(T::FlashedHere);
    QTest::newRow("success back, again") << "sAl" << true << a << int(T::Job);
    QTest::newRow("success still in, again") << "sA" << true << a << int(T::SameModem);
    QTest::newRow("another modem") << "sA" << false << b << int(T::Job);
    QTest::newRow("failure still in") << "fA" << false << a << int(T::SameModem);
    QTest::newRow("failure back after it left") << "fAl" << false << a << int(T::Job);
    QTest::newRow("failing again after it came back") << "fAlfA" << false << a << int(T::SameModem);
    QTest::newRow("failure, then one that never answered") << "fAn" << false << a << int(T::Job);
    QTest::newRow("the earlier success after another failed")
        << "sAfB" << false << a << int(T::FlashedHere);
    QTest::newRow("no IMEI, still in") << "s-" << false << "" << int(T::SameModem);
    QTest::newRow("no IMEI, back after it left") << "s-l" << false << "" << int(T::Job);
}

void TestLine::socketTellsANewModemByItsImei()
{
    QFETCH(QString, history);
    QFETCH(bool, again);
    QFETCH(QString, imei);
    QFETCH(int, turn);
    const QHash<QChar, QString> imeis{{QLatin1Char('A'), QStringLiteral("490154203237518")},
                                      {QLatin1Char('B'), QStringLiteral("356938035643809")},
                                      {QLatin1Char('-'), QString()}};
    SocketMemory memory;
    if (again)
        memory.setAgain(true);
    const QDateTime time(QDate(2026, 12, 9), QTime(14, 3));
    for (int i = 0; i < history.size(); ++i) {
        const QChar step = history.at(i);
        if (step == QLatin1Char('s') || step == QLatin1Char('f'))
            memory.noteJob(imeis.value(history.at(++i)), step == QLatin1Char('s'), time);
        else if (step == QLatin1Char('l'))
            memory.noteLeft();
        else
            memory.noteNoJob();
    }
    QCOMPARE(int(memory.turnFor(imei)), turn);
    if (turn == int(SocketMemory::Turn::FlashedHere))
        QCOMPARE(SocketText::flashedHere(memory.successTime()),
                 QStringLiteral("Уже прошит здесь в 14:03"));
}

QTEST_MAIN(TestLine)
#include "tst_line.moc"
