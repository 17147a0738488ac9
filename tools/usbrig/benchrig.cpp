#include "benchrig.h"

#include "line/socketmodel.h"
#include "ui/benchwindow.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTest>
#include <QTime>
#include <cstdio>

namespace {
constexpr int startWaitMs = 10000;
// Four modems plugged one after another, one of them twice, at 9600 bit/s on a guest
// many times slower than hardware.
constexpr int benchWaitMs = 420000;
constexpr int stopWaitMs = 30000;
const QString doneText = QStringLiteral("Готово — снимите модем");
const QString pulledText = QStringLiteral("Модем отключён во время прошивки");

QString now()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}
} // namespace

BenchRig::BenchRig(const QString &folder, const QString &settingsFile, int tiles)
    : mFolder(folder), mSettingsFile(settingsFile), mTiles(tiles), mHost(folder)
{
    // No settings store: nothing of the operator's choices is kept between runs.
    mWindow = std::make_unique<BenchWindow>(PortLister(), nullptr);
    // The bench never stops for a box; one that shows up is recorded and fails the check.
    mModals.setInspector([](QWidget *) { return true; });
    // The tiles as the view paints them: once the changes of one event have all been made.
    mTimerNote.setSingleShot(true);
    mTimerNote.setInterval(0);
    QObject::connect(&mTimerNote, &QTimer::timeout, &mTimerNote, [this] { noteTiles(); });
    QObject::connect(mWindow->model(), &QAbstractItemModel::dataChanged, &mTimerNote,
                     [this] { mTimerNote.start(); });
    QObject::connect(mWindow->model(), &QAbstractItemModel::rowsInserted, &mTimerNote,
                     [this] { mTimerNote.start(); });
    mWindow->show();
}

BenchRig::~BenchRig() = default;

int BenchRig::exec()
{
    if (!start()) {
        printf("RESULT j FAIL the bench did not start: %s\n",
               qPrintable(mWindow->findChild<QLabel *>(QStringLiteral("labelProblem"))->text()));
        return 1;
    }
    mStalls.start();
    mHost.post(QStringLiteral("started"), now().toUtf8());
    const bool green = waitFor(
        [this] {
            return mHost.has(QStringLiteral("plugs-done")) &&
                   countTone(SocketModel::Good) == mTiles;
        },
        benchWaitMs);
    const qint64 stallMs = mStalls.largestMs();
    const QString stallEnd = mStalls.largestEnd();
    const QString counters = mWindow->model()->countersText();
    const bool stopped = stop();
    mWindow->grab().save(mFolder + QStringLiteral("/bench.png"));
    // The watch lists the ports on the window's thread twice a second: one listing's time
    // here, with every adapter of the run still plugged in, to read the stalls by.
    qint64 listMs = 0;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer clock;
        clock.start();
        QSerialPortInfo::availablePorts();
        listMs = qMax(listMs, clock.elapsed());
    }

    SocketModel *model = mWindow->model();
    for (int row = 0; row < model->rowCount(); ++row)
        printf("TILE %s\n", qPrintable(tileText(row)));
    for (auto it = mStates.cbegin(); it != mStates.cend(); ++it)
        printf("STATES %d %s\n", it.key(), qPrintable(it.value().join(QStringLiteral(" > "))));
    for (const QString &red : qAsConst(mRed))
        printf("RED %s\n", qPrintable(red));
    printf("STALL %lld ms ending %s\n", static_cast<long long>(stallMs), qPrintable(stallEnd));

    QStringList problems;
    if (!green)
        problems
            << QStringLiteral("%1 of %2 tiles green").arg(countTone(SocketModel::Good)).arg(mTiles);
    if (model->rowCount() != mTiles)
        problems << QStringLiteral("%1 tiles").arg(model->rowCount());
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex tile = model->index(row, 0);
        if (tile.data(SocketModel::StateTextRole).toString() != doneText ||
            model->index(row, SocketModel::ImeiColumn).data().toString().isEmpty())
            problems << QStringLiteral("tile %1 ends as %2").arg(row + 1).arg(tileText(row));
    }
    if (mRed.size() != 1 || !mRed.value(0).contains(pulledText))
        problems << QStringLiteral("red tiles: %1").arg(mRed.join(QStringLiteral(" / ")));
    if (!mModals.seen().isEmpty())
        problems << QStringLiteral("boxes: ") + mModals.seen().join(QStringLiteral(", "));
    if (!stopped)
        problems << QStringLiteral("the watch did not end after \"Остановить\"");
    figure(QStringLiteral("j_stall_ms"), stallMs);
    figure(QStringLiteral("j_port_list_ms"), listMs);
    printf("RESULT j %s %s\n", problems.isEmpty() ? "PASS" : "FAIL",
           qPrintable(problems.isEmpty()
                          ? QStringLiteral("%1 green tiles \"%2\", one red \"%3\" on the way; %4")
                                .arg(mTiles)
                                .arg(doneText, pulledText, counters)
                          : problems.join(QStringLiteral("; "))));
    fflush(stdout);
    return problems.isEmpty() ? 0 : 1;
}

// As an operator sets it up: flash, the settings file, only FTDI adapters, the journal.
bool BenchRig::start()
{
    mWindow->findChild<QComboBox *>(QStringLiteral("comboJob"))->setCurrentIndex(0);
    mWindow->findChild<QLineEdit *>(QStringLiteral("editJournal"))
        ->setText(mFolder + QStringLiteral("/journal.csv"));
    mWindow->findChild<QComboBox *>(QStringLiteral("comboFilter"))
        ->setEditText(QStringLiteral("0403:6001"));
    mWindow->setSettingsFile(mSettingsFile);
    mWindow->findChild<QPushButton *>(QStringLiteral("buttonStart"))->click();
    return waitFor([this] { return mWindow->running(); }, startWaitMs);
}

// A tile that turns red is told to the host at once, with the others as they were then.
void BenchRig::noteTiles()
{
    SocketModel *model = mWindow->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const int number = model->index(row, SocketModel::NumberColumn).data().toInt();
        const QString state = model->index(row, 0).data(SocketModel::StateTextRole).toString();
        if (state.isEmpty())
            continue;
        QStringList &states = mStates[number];
        const bool turnedRed =
            model->index(row, 0).data(SocketModel::ToneRole).toInt() == SocketModel::Bad &&
            (states.isEmpty() || states.last() != state);
        if (states.isEmpty() || states.last() != state)
            states << state;
        if (!turnedRed)
            continue;
        QStringList others;
        for (int other = 0; other < model->rowCount(); ++other) {
            if (other != row)
                others << tileText(other);
        }
        const QString red = now() + QStringLiteral(" | ") + tileText(row) +
                            QStringLiteral(" | others: ") + others.join(QStringLiteral(" / "));
        if (mRed.isEmpty())
            mHost.post(QStringLiteral("red"), red.toUtf8());
        mRed << red;
    }
}

bool BenchRig::stop()
{
    auto *button = mWindow->findChild<QPushButton *>(QStringLiteral("buttonStart"));
    if (mWindow->running())
        button->click();
    return waitFor([this] { return !mWindow->running(); }, stopWaitMs);
}

int BenchRig::countTone(int tone) const
{
    SocketModel *model = mWindow->model();
    int count = 0;
    for (int row = 0; row < model->rowCount(); ++row)
        count += model->index(row, 0).data(SocketModel::ToneRole).toInt() == tone;
    return count;
}

// "2 ttyUSB9 0403:6001 LORTA-J2 IMEI … : state (detail)"
QString BenchRig::tileText(int row) const
{
    SocketModel *model = mWindow->model();
    const QModelIndex tile = model->index(row, 0);
    QString text = QStringLiteral("%1 %2 %3 IMEI %4 : %5")
                       .arg(model->index(row, SocketModel::NumberColumn).data().toInt())
                       .arg(model->index(row, SocketModel::PortColumn).data().toString(),
                            model->index(row, SocketModel::AdapterColumn).data().toString(),
                            model->index(row, SocketModel::ImeiColumn).data().toString(),
                            tile.data(SocketModel::StateTextRole).toString());
    const QString detail = tile.data(SocketModel::DetailRole).toString();
    return detail.isEmpty() ? text : text + QStringLiteral(" (") + detail + QLatin1Char(')');
}

bool BenchRig::waitFor(const std::function<bool()> &condition, int waitMs)
{
    return QTest::qWaitFor(condition, waitMs);
}

void BenchRig::figure(const QString &name, qint64 value) const
{
    printf("FIGURE %s %lld\n", qPrintable(name), static_cast<long long>(value));
    fflush(stdout);
}
