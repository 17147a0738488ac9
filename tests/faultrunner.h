#pragma once

#include "faultmatrix.h"
#include "modembench.h"
#include "modemsim.h"
#include "testsupport.h"
#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <sys/resource.h>

// Runs one row of the fault matrix end to end: a simulated modem on a
// pseudo-terminal, the real window and worker, the operator's clicks. The row's
// fault is armed for the job's command; then the job must end in the row's box,
// send nothing more, hand back to the presence check, leave the local files as
// they were and not spin a core. After a hang-up the operator must still be
// able to close the port and open another one.
//
// Used from a test function after QFETCH; a failed check returns from run().
class FaultRunner
{
public:
    using FaultCase = FaultMatrix::FaultCase;

    static void addRows(const QVector<FaultCase> &cases)
    {
        QTest::addColumn<FaultCase>("row");
        for (const FaultCase &row : cases) {
            const QString occurrence =
                row.occurrence > 1 ? QStringLiteral(" #%1").arg(row.occurrence) : QString();
            const QString name = QString::fromLatin1(row.command) + occurrence +
                                 QStringLiteral(": ") +
                                 QString::fromLatin1(FaultMatrix::faultName(row.fault));
            QTest::newRow(qPrintable(name)) << row;
        }
    }

    ~FaultRunner()
    {
        mCloser.reset();
        mUi.reset();
        mWindow.reset(); // stops the worker before its port goes away
        mSim.reset();
        mOtherSim.reset();
        if (!mOldDir.isEmpty())
            QDir::setCurrent(mOldDir);
    }

    void run(const FaultCase &row)
    {
        mClock.start();
        const Usage atStart = usage();
        setUp();
        if (QTest::currentTestFailed())
            return;
        if (row.job == FaultMatrix::Job::Presence)
            runPresenceCheck(row);
        else
            runJob(row);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(readFile(QStringLiteral("settings.ini")), localSettings());
        QCOMPARE(readFile(QStringLiteral("setting")), mSim->portName().toUtf8());
        if (FaultMatrix::hangsUp(row.fault)) {
            checkUsageSince(mHungUpAt, "on the dead line");
            if (QTest::currentTestFailed())
                return;
            closeAndOpenAnother();
            if (QTest::currentTestFailed())
                return;
        }
        checkUsageSince(atStart, "over the case");
    }

private:
    static constexpr int linkTimeout = 15000;
    static constexpr int jobTimeout = 90000;
    static constexpr int closeTimeout = 3000;
    static constexpr int bytesBeforeHangUp = 64;
    static constexpr int cpuSlackMs = 50;

    static QByteArray localSettings()
    {
        return QByteArrayLiteral("DEST_IP::10.0.0.1::IP адрес сервера\r\n"
                                 "DEST_PORT::5000::Порт сервера\r\n"
                                 "APN::internet::Точка входа GPRS");
    }

    static QString connectedLine() { return QStringLiteral("Связь с модемом установлена"); }
    static QString noLinkLine()
    {
        return QStringLiteral(
            "Нет связи с модемом. Модем не подключен или в модеме выполняется скрипт");
    }

    static QByteArray readFile(const QString &name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static bool writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    struct Usage
    {
        qint64 cpuMs = 0;
        qint64 wallMs = 0;
    };

    // CPU time of the whole process (window, worker and simulated modem) and the wall clock.
    Usage usage() const
    {
        rusage self{};
        getrusage(RUSAGE_SELF, &self);
        const auto ms = [](const timeval &t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
        return {ms(self.ru_utime) + ms(self.ru_stime), mClock.elapsed()};
    }

    // A loose bound that only a spinning thread breaks: half a core, plus some
    // slack for a short period.
    void checkUsageSince(const Usage &from, const char *period) const
    {
        const Usage now = usage();
        const qint64 cpu = now.cpuMs - from.cpuMs;
        const qint64 wall = now.wallMs - from.wallMs;
        QVERIFY2(
            cpu < wall / 2 + cpuSlackMs,
            qPrintable(QStringLiteral("%1 ms CPU in %2 ms %3").arg(cpu).arg(wall).arg(period)));
    }

    static bool startSim(ModemSim &sim, QString *error)
    {
        sim.setPaced(false);
        sim.setRestartSilenceMs(0);
        return sim.start(error);
    }

    void setUp()
    {
        mOldDir = QDir::currentPath();
        QVERIFY(mDir.isValid());
        QVERIFY(QDir::setCurrent(mDir.path()));

        mSim = std::make_unique<ModemSim>();
        mSim->setFile("main.pyo", QByteArray(300, 'm'));
        mSim->setFile("config.pyo", QByteArray(100, 'c'));
        mSim->setFile("settings.ini", "APN::modem.apn::Точка входа GPRS");
        QString error;
        QVERIFY2(startSim(*mSim, &error), qPrintable(error));
        QVERIFY(writeFile(QStringLiteral("settings.ini"), localSettings()));
        QVERIFY(writeFile(QStringLiteral("setting"), mSim->portName().toUtf8()));

        const QString port = mSim->portName();
        mWindow = std::make_unique<MainWindow>([port] { return QStringList{port}; });
        mWindow->show();
        mUi = std::make_unique<TestSupport::WindowDriver>(mWindow.get());
        mCloser = std::make_unique<TestSupport::ModalCloser>();
    }

    void connectModem()
    {
        mUi->openButton()->click();
        QTRY_VERIFY2_WITH_TIMEOUT(mUi->jobButtonsEnabled(), qPrintable(trace()), linkTimeout);
    }

    static QString buttonText(FaultMatrix::Job job)
    {
        switch (job) {
        case FaultMatrix::Job::Flash:
            return QStringLiteral("Прошить");
        case FaultMatrix::Job::LoadSettings:
            return QStringLiteral("Загрузить настройки");
        case FaultMatrix::Job::ReadSettings:
            return QStringLiteral("Считать настройки");
        case FaultMatrix::Job::Clear:
            return QStringLiteral("Очистить модем");
        case FaultMatrix::Job::Presence:
            break;
        }
        return QString();
    }

    static QByteArray firstCommand(FaultMatrix::Job job)
    {
        return job == FaultMatrix::Job::ReadSettings
                   ? QByteArrayLiteral("at#rscript=\"settings.ini\"")
                   : QByteArrayLiteral("at#escript=\"\"");
    }

    static ModemFault modemFault(const FaultCase &row)
    {
        using F = FaultMatrix::Fault;
        const auto rule = [&row](ModemFault::Action action) {
            return ModemFault::onPrefix(row.command, action, 1);
        };
        switch (row.fault) {
        case F::Garbage:
            return rule(ModemFault::Garbage);
        case F::Error:
            return rule(ModemFault::Error);
        case F::Silence:
            return rule(ModemFault::Silence);
        case F::HalfAnswer:
            return rule(ModemFault::HalfAnswer);
        case F::HangUp:
            return rule(ModemFault::HangUp);
        case F::BytesSilence:
            return rule(ModemFault::DataStall).afterDataBytes(0);
        case F::BytesError:
            return rule(ModemFault::DataError);
        case F::BytesHangUp:
            break;
        }
        return rule(ModemFault::DataStall).afterDataBytes(bytesBeforeHangUp);
    }

    // Commands from index `from` on that start with `prefix`.
    int countFrom(int from, const QByteArray &prefix) const
    {
        const QList<QByteArray> all = mSim->commands();
        int count = 0;
        for (int i = from; i < all.size(); ++i)
            count += all.at(i).startsWith(prefix) ? 1 : 0;
        return count;
    }

    int indexFrom(int from, const QByteArray &prefix) const
    {
        const QList<QByteArray> all = mSim->commands();
        for (int i = from; i < all.size(); ++i) {
            if (all.at(i).startsWith(prefix))
                return i;
        }
        return -1;
    }

    void arm(const FaultCase &row)
    {
        mArmedAt = mSim->commands().size();
        mDataAtArming = mSim->dataBytesReceived();
        mSim->addFault(modemFault(row));
    }

    // The presence check sends "ate0" too: a rule for it, or for a command's
    // second occurrence, is armed only once the job has begun and has sent the
    // matching commands that come before the faulted one.
    void startJobWithFault(const FaultCase &row)
    {
        const bool armNow = row.occurrence == 1 && row.command != QByteArrayLiteral("ate0");
        if (armNow)
            arm(row);
        // The offscreen platform cannot honour the end box's fixed size and says so.
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
        const int before = mSim->commands().size();
        mUi->button(buttonText(row.job))->click();
        if (armNow)
            return;
        const QByteArray first = firstCommand(row.job);
        QTRY_VERIFY2_WITH_TIMEOUT(countFrom(before, first) > 0, qPrintable(trace()), linkTimeout);
        const int start = indexFrom(before, first);
        QTRY_VERIFY2_WITH_TIMEOUT(countFrom(start, row.command) >= row.occurrence - 1,
                                  qPrintable(trace()), jobTimeout);
        arm(row);
        QVERIFY2(countFrom(start, row.command) == row.occurrence - 1, qPrintable(trace()));
    }

    void runJob(const FaultCase &row)
    {
        connectModem();
        if (QTest::currentTestFailed())
            return;
        startJobWithFault(row);
        if (QTest::currentTestFailed())
            return;
        if (row.fault == FaultMatrix::Fault::BytesHangUp) {
            QTRY_VERIFY2_WITH_TIMEOUT(mSim->dataBytesReceived() >=
                                          mDataAtArming + bytesBeforeHangUp,
                                      qPrintable(trace()), jobTimeout);
            mSim->hangUp();
        }
        if (FaultMatrix::hangsUp(row.fault))
            awaitHangUp();
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(!mCloser->seen().isEmpty(), qPrintable(trace()), jobTimeout);
        checkJobEnd(row);
    }

    // Called once the box has been shown and closed.
    void checkJobEnd(const FaultCase &row)
    {
        const int commandsAtBox = mSim->commands().size();
        const int linesAtBox = mUi->logLines().size();
        QCOMPARE(mCloser->seen(), QStringList{QString::fromUtf8(row.box)});
        QVERIFY(!mUi->progress()->isVisible());

        const int faulted = indexFrom(mArmedAt, row.command);
        QVERIFY2(faulted >= 0, qPrintable(trace()));
        const bool tolerated = QString::fromUtf8(row.box).startsWith(QStringLiteral("Сообщение|"));
        if (tolerated) {
            // The echo-off wait let the faulty answer pass and asked again.
            const QList<QByteArray> all = mSim->commands();
            QCOMPARE(all.value(faulted + 1), QByteArray("ate0"));
            QCOMPARE(all.value(faulted + 2), QByteArray("at#lscript"));
        }

        // Back to the presence check: it asks again, or, on a dead line, reports the modem gone.
        if (FaultMatrix::hangsUp(row.fault))
            QTRY_VERIFY2_WITH_TIMEOUT(mUi->logLines().mid(linesAtBox).contains(noLinkLine()),
                                      qPrintable(trace()), linkTimeout);
        else
            QTRY_VERIFY2_WITH_TIMEOUT(mSim->commands().size() > commandsAtBox, qPrintable(trace()),
                                      linkTimeout);
        if (!tolerated) {
            const QList<QByteArray> after = mSim->commands().mid(faulted + 1);
            for (const QByteArray &command : after)
                QVERIFY2(command == "ate0", qPrintable(trace()));
        }
        QCOMPARE(mCloser->seen().size(), 1);
    }

    void runPresenceCheck(const FaultCase &row)
    {
        connectModem();
        if (QTest::currentTestFailed())
            return;
        const int lines = mUi->logLines().size();
        mSim->addFault(modemFault(row));
        if (FaultMatrix::hangsUp(row.fault))
            awaitHangUp();
        QTRY_VERIFY2_WITH_TIMEOUT(mUi->logLines().mid(lines).contains(noLinkLine()),
                                  qPrintable(trace()), linkTimeout);
        QVERIFY(mUi->jobButtonsDisabled());
        if (!FaultMatrix::hangsUp(row.fault)) {
            // One bad answer: five good ones in a row bring the modem back.
            QTRY_VERIFY2_WITH_TIMEOUT(mUi->jobButtonsEnabled(), qPrintable(trace()), linkTimeout);
            QCOMPARE(mUi->countLogLines(connectedLine()), 2);
        }
        QCOMPARE(mCloser->seen(), QStringList());
    }

    void awaitHangUp()
    {
        QTRY_VERIFY2_WITH_TIMEOUT(mSim->isHungUp(), qPrintable(trace()), jobTimeout);
        mHungUpAt = usage();
    }

    // The operator closes the dead port and opens a healthy modem's.
    void closeAndOpenAnother()
    {
        QTimer ticker;
        int ticks = 0;
        QObject::connect(&ticker, &QTimer::timeout, &ticker, [&ticks] { ++ticks; });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        mUi->closePort();
        QTRY_COMPARE_WITH_TIMEOUT(mUi->openButton()->text(), QStringLiteral("Открыть COM-порт"),
                                  closeTimeout);
        QVERIFY2(clock.elapsed() < closeTimeout, qPrintable(QString::number(clock.elapsed())));
        const int ticksAtClose = ticks;
        QTRY_VERIFY(ticks >= ticksAtClose + 3);

        mOtherSim = std::make_unique<ModemSim>();
        QString error;
        QVERIFY2(startSim(*mOtherSim, &error), qPrintable(error));
        mUi->openPort(mOtherSim->portName());
        QTRY_VERIFY2_WITH_TIMEOUT(mUi->jobButtonsEnabled(), qPrintable(trace()), linkTimeout);
        QCOMPARE(mUi->countLogLines(connectedLine()), 2);
    }

    // What the modem was told and what the operator saw, for a failure message.
    QString trace() const
    {
        return TestSupport::trace(*mSim, *mUi, *mCloser);
    }

    QTemporaryDir mDir;
    QString mOldDir;
    std::unique_ptr<ModemSim> mSim;
    std::unique_ptr<ModemSim> mOtherSim;
    std::unique_ptr<MainWindow> mWindow;
    std::unique_ptr<TestSupport::WindowDriver> mUi;
    std::unique_ptr<TestSupport::ModalCloser> mCloser;
    QElapsedTimer mClock;
    Usage mHungUpAt;
    int mArmedAt = 0;
    qint64 mDataAtArming = 0;
};
