// The bench's socket model fed by a real watch: a hand-filled port list whose
// entries point at simulated modems on pseudo-terminals, plugged and pulled,
// all on the fast timing.
#include "line/socketmodel.h"
#include "line/watchrun.h"
#include "modemsim.h"
#include "socketbench.h"
#include "testtiming.h"

#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using TestSupport::fastMs;
using TestSupport::schedulingSlackMs;

namespace {
const QByteArray imeiA = "490154203237518";
constexpr int jobMs = 90000;

QVariant tile(const SocketModel &model, int role, int row = 0)
{
    return model.index(row, 0).data(role);
}
} // namespace

class TestSocketModel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void wholeJobThenPulled();
    void failedJobShowsStepAndReason();
    void pulledMidJobThenPluggedBack();
    void portThatDoesNotOpenShowsItsHint();

private:
    ModemSim *addModem(bool paced = false) { return mBench->addModem(imeiA, paced); }
    void plug(const QString &systemLocation, const QString &location)
    {
        mBench->plugPort(systemLocation, location);
    }
    void unplug(const QString &systemLocation) { mBench->unplugPort(systemLocation); }
    void startWatch();
    // Every state text a tile showed, in order, without repeats.
    QStringList statesSeen() const { return mStates; }

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<TestSupport::SocketBench> mBench;
    std::unique_ptr<WatchRun> mRun;
    std::unique_ptr<SocketModel> mModel;
    QStringList mStates;
};

void TestSocketModel::init()
{
    mDir = std::make_unique<QTemporaryDir>();
    mBench = std::make_unique<TestSupport::SocketBench>(TestSupport::fastScale);
    mStates.clear();
}

void TestSocketModel::cleanup()
{
    mModel.reset();
    mRun.reset();
    mBench.reset();
    mDir.reset();
}

void TestSocketModel::startWatch()
{
    WatchOptions options;
    options.journalFile = mDir->filePath(QStringLiteral("journal.csv"));
    options.settingsFile = mDir->filePath(QStringLiteral("settings.ini"));
    options.timing = TestSupport::fastTiming();
    mRun = std::make_unique<WatchRun>(options, mBench->lister());
    mModel = std::make_unique<SocketModel>();
    mModel->setRun(mRun.get());
    connect(mModel.get(), &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &top) {
        const QString state = top.siblingAtColumn(0).data(SocketModel::StateTextRole).toString();
        if (mStates.isEmpty() || mStates.last() != state)
            mStates << state;
    });
    QString error;
    QVERIFY2(mRun->start(&error), qPrintable(error));
}

// Plugged, the tile goes yellow through the connection and the numbered steps
// with the bytes of the file, ends green with the duration and keeps it while
// the modem is in; pulled, it waits again. The socket's log has the
// time-stamped lines.
void TestSocketModel::wholeJobThenPulled()
{
    ModemSim *sim = addModem();
    startWatch();
    plug(sim->portName(), QStringLiteral("1-1.4"));
    QTRY_COMPARE(mModel->rowCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(tile(*mModel, SocketModel::ToneRole).toInt(), int(SocketModel::Good),
                              jobMs);
    QCOMPARE(tile(*mModel, SocketModel::StateTextRole).toString(),
             QStringLiteral("Готово — снимите модем"));
    QVERIFY(tile(*mModel, SocketModel::DetailRole).toString().startsWith(QStringLiteral("за 0:")));
    QCOMPARE(mModel->index(0, SocketModel::ImeiColumn).data().toString(), QString(imeiA));
    QCOMPARE(mModel->index(0, SocketModel::NumberColumn).data().toInt(), 1);
    QCOMPARE(mModel->index(0, SocketModel::AdapterColumn).data().toString(),
             QStringLiteral("0403:6001 FT1-1.4"));
    QCOMPARE(mModel->index(0, SocketModel::VerdictColumn).data().toString(),
             QStringLiteral("Готово — снимите модем"));
    QVERIFY(mModel->index(0, SocketModel::DurationColumn).data().toDouble() > 0);

    const QStringList states = statesSeen();
    QVERIFY2(states.contains(QStringLiteral("Связь…")), qPrintable(states.join('|')));
    QVERIFY2(states.contains(QStringLiteral("Прошивка: шаг 1 из 10")),
             qPrintable(states.join('|')));
    QVERIFY2(states.indexOf(QStringLiteral("Ждём модем")) <
                 states.indexOf(QStringLiteral("Связь…")),
             qPrintable(states.join('|')));
    QVERIFY2(states.indexOf(QStringLiteral("Связь…")) <
                 states.indexOf(QStringLiteral("Прошивка: шаг 1 из 10")),
             qPrintable(states.join('|')));
    // A job that ends goes straight to its verdict, never through "stopped".
    QVERIFY2(!states.contains(QStringLiteral("Остановлено")), qPrintable(states.join('|')));
    QCOMPARE(mModel->succeeded(), 1);
    QVERIFY(mModel->countersText().startsWith(QStringLiteral("Успешно: 1    Ошибок: 0")));

    const QStringList log = mModel->logLines(0);
    const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d : "));
    QVERIFY2(log.filter(QStringLiteral("IMEI 490154203237518")).size() == 1,
             qPrintable(log.join('\n')));
    for (const QString &line : log)
        QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));

    // The verdict stands until the modem is taken out.
    QTest::qWait(fastMs(700));
    QCOMPARE(tile(*mModel, SocketModel::ToneRole).toInt(), int(SocketModel::Good));
    QCOMPARE(tile(*mModel, SocketModel::VerdictRole).toInt(), int(SocketModel::Done));
    unplug(sim->portName());
    QTRY_COMPARE(tile(*mModel, SocketModel::StateTextRole).toString(),
                 QStringLiteral("Ждём модем"));
    QCOMPARE(tile(*mModel, SocketModel::ToneRole).toInt(), int(SocketModel::Idle));
    QCOMPARE(tile(*mModel, SocketModel::VerdictRole).toInt(), int(SocketModel::Waiting));
    QCOMPARE(mModel->index(0, SocketModel::VerdictColumn).data().toString(), QString());
    QCOMPARE(mModel->index(0, SocketModel::ImeiColumn).data().toString(), QString());
}

// A modem that refuses the first script write: red, with the step and the job's text.
void TestSocketModel::failedJobShowsStepAndReason()
{
    ModemSim *sim = addModem();
    sim->addFault(ModemFault::onPrefix("at#wscript", ModemFault::Error, 1));
    startWatch();
    plug(sim->portName(), QStringLiteral("1-2"));
    QTRY_COMPARE_WITH_TIMEOUT(mModel->failed(), 1, jobMs);
    const QString state = tile(*mModel, SocketModel::StateTextRole).toString();
    QCOMPARE(tile(*mModel, SocketModel::ToneRole).toInt(), int(SocketModel::Bad));
    QCOMPARE(tile(*mModel, SocketModel::VerdictRole).toInt(), int(SocketModel::Rejected));
    QVERIFY2(state.startsWith(QStringLiteral("Ошибка: ")) && state.contains(QStringLiteral(" — ")),
             qPrintable(state));
    QCOMPARE(mModel->succeeded(), 0);
}

// Pulled in the middle of a file: red "отключён" that stays while the socket
// is empty; plugged back at the same position under another name, the same
// row runs a fresh job to green.
void TestSocketModel::pulledMidJobThenPluggedBack()
{
    ModemSim *sim = addModem(true);
    startWatch();
    plug(sim->portName(), QStringLiteral("2-1"));
    QTRY_VERIFY_WITH_TIMEOUT(sim->dataBytesReceived() >= 500, jobMs);
    QVERIFY(tile(*mModel, SocketModel::ProgressRole).toInt() >= 0);
    QVERIFY2(tile(*mModel, SocketModel::DetailRole).toString().contains(QStringLiteral(" КБ")),
             qPrintable(tile(*mModel, SocketModel::DetailRole).toString()));
    // The port leaves the list first, as the adapter's port does when pulled.
    unplug(sim->portName());
    QTRY_VERIFY2_WITH_TIMEOUT(tile(*mModel, SocketModel::StateTextRole).toString() ==
                                  QStringLiteral("Модем отключён во время прошивки"),
                              qPrintable(statesSeen().join('|')), fastMs(1000) + schedulingSlackMs);
    sim->hangUp();
    QCOMPARE(tile(*mModel, SocketModel::ToneRole).toInt(), int(SocketModel::Bad));
    QTest::qWait(fastMs(700)); // the socket is empty by now and still says what happened
    QCOMPARE(tile(*mModel, SocketModel::ToneRole).toInt(), int(SocketModel::Bad));
    QCOMPARE(tile(*mModel, SocketModel::VerdictRole).toInt(), int(SocketModel::Unplugged));

    sim->stop();
    sim->setPaced(false);
    QVERIFY(sim->start());
    plug(sim->portName(), QStringLiteral("2-1"));
    QTRY_COMPARE(tile(*mModel, SocketModel::ToneRole).toInt(), int(SocketModel::Busy));
    QTRY_COMPARE_WITH_TIMEOUT(mModel->succeeded(), 1, jobMs);
    QCOMPARE(mModel->rowCount(), 1);
    QCOMPARE(tile(*mModel, SocketModel::WarningRole).toString(), QString());
    QCOMPARE(mModel->failed(), 1);
}

// The reason a port did not open goes on its tile, not in a box.
void TestSocketModel::portThatDoesNotOpenShowsItsHint()
{
    startWatch();
    plug(mDir->filePath(QStringLiteral("ttyUSB9")), QStringLiteral("3-1"));
    QTRY_COMPARE(tile(*mModel, SocketModel::StateTextRole).toString(),
                 QStringLiteral("Порт не открылся"));
    QCOMPARE(tile(*mModel, SocketModel::ToneRole).toInt(), int(SocketModel::Bad));
    QCOMPARE(tile(*mModel, SocketModel::VerdictRole).toInt(), int(SocketModel::NoPort));
    QVERIFY(!tile(*mModel, SocketModel::DetailRole).toString().isEmpty());
    // It is on record and counted: a port that does not open is a failed modem.
    QVERIFY2(mModel->countersText().startsWith(QStringLiteral("Успешно: 0    Ошибок: 1")),
             qPrintable(mModel->countersText()));
    unplug(mDir->filePath(QStringLiteral("ttyUSB9")));
    QTRY_COMPARE(tile(*mModel, SocketModel::StateTextRole).toString(),
                 QStringLiteral("Ждём модем"));
    QCOMPARE(tile(*mModel, SocketModel::DetailRole).toString(), QString());
}

QTEST_MAIN(TestSocketModel)
#include "tst_socketmodel.moc"
