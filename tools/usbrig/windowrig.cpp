#include "windowrig.h"

#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QDir>
#include <QSerialPortInfo>
#include <QTest>
#include <QTime>
#include <cstdio>

namespace {
constexpr int plugWaitMs = 60000;
constexpr int openWaitMs = 10000;
constexpr int linkWaitMs = 30000;
constexpr int flashWaitMs = 240000;
constexpr int hostWaitMs = 120000;
constexpr int lostWaitMs = 5000;
constexpr int closeWaitMs = 5000;
// Under plain emulation on a shared machine the guest runs many times slower than
// hardware: a stall past this is a hang; the 100 ms target is reported beside it.
constexpr qint64 stallLimitMs = 2000;
constexpr qint64 refreshLimitMs = 5000;

const QString flashButton = QStringLiteral("Прошить");
const QString readButton = QStringLiteral("Считать настройки");
const QString refreshButton = QStringLiteral("Обновить список\nкомпортов");
const QString flashFailedBox = QStringLiteral("Ошибка|Ошибка при прошивке модема");
const QString flashedBox = QStringLiteral("Сообщение|Модем прошит");
const QString lostModemLine =
    QStringLiteral("Нет связи с модемом. Модем не подключен или в модеме выполняется скрипт");
} // namespace

WindowRig::WindowRig(const QString &folder, const QString &serial)
    : mFolder(folder), mSerial(serial), mHost(folder), mOldDir(QDir::currentPath())
{
    // The tool keeps "setting" and "settings.ini" in its working directory.
    QDir::setCurrent(folder);
    mWindow = std::make_unique<MainWindow>();
    mUi = std::make_unique<TestSupport::WindowDriver>(mWindow.get());
    // The box's time on this machine's clock: the host compares it with the moment the
    // kernel dropped the adapter.
    mModals.setInspector([this](QWidget *) {
        if (!mHost.has(QStringLiteral("box")))
            mHost.post(QStringLiteral("box"),
                       QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")).toUtf8());
        return true;
    });
    mWindow->show();
}

// The window first: its destructor stops and joins the serial worker.
WindowRig::~WindowRig()
{
    mUi.reset();
    mWindow.reset();
    QDir::setCurrent(mOldDir);
}

int WindowRig::exec()
{
    // After a flash the modem runs its script, and the log shows that rather than a lost
    // modem; so the pull between jobs follows a read-settings, which leaves it idle.
    if (pullDuringFlash() && askHost(QStringLiteral("plug-fresh"), hostWaitMs) &&
        pullWhileConnected(QStringLiteral("g1"), QStringLiteral("while the presence check runs"),
                           false) &&
        askHost(QStringLiteral("plug"), hostWaitMs) &&
        pullWhileConnected(QStringLiteral("g2"), QStringLiteral("between jobs"), true) &&
        askHost(QStringLiteral("plug"), hostWaitMs))
        flashAfterReplug();
    mUi->closePort();
    return mFailures == 0 ? 0 : 1;
}

// d: the adapter pulled while main.pyo goes over; the host pulls on its own.
bool WindowRig::pullDuringFlash()
{
    if (!openAdapterPort(plugWaitMs)) {
        result(QStringLiteral("d"), false, QStringLiteral("the adapter's port did not open"));
        return false;
    }
    if (!waitFor([this] { return mUi->jobButtonsEnabled(); }, linkWaitMs)) {
        result(QStringLiteral("d"), false, QStringLiteral("no link to the modem"));
        return false;
    }
    mStalls.start();
    mUi->button(flashButton)->click();
    const bool boxed =
        waitFor([this] { return mModals.seen().contains(flashFailedBox); }, flashWaitMs);
    qint64 closeMs = -1, refreshMs = -1, stallMs = -1;
    const bool closed = boxed && closeAndRefresh(&closeMs, &refreshMs, &stallMs);
    printLog();
    figure(QStringLiteral("d_close_ms"), closeMs);
    figure(QStringLiteral("d_refresh_ms"), refreshMs);
    figure(QStringLiteral("d_stall_ms"), stallMs);
    const bool ok = boxed && closed && stallMs < stallLimitMs;
    result(QStringLiteral("d"), ok,
           QStringLiteral("box \"%1\"; port closed in %2 ms, list refreshed in %3 ms; largest "
                          "stall %4 ms (target 100 ms); boxes: %5")
               .arg(boxed ? flashFailedBox : QStringLiteral("missing"))
               .arg(closeMs)
               .arg(refreshMs)
               .arg(stallMs)
               .arg(mModals.seen().join(QStringLiteral(", "))));
    return boxed && closed;
}

// g: the adapter pulled with the port open and no job running.
bool WindowRig::pullWhileConnected(const QString &letter, const QString &when, bool afterJob)
{
    if (!mUi->portOpen() && !openAdapterPort(plugWaitMs)) {
        result(letter, false, QStringLiteral("the adapter's port did not open"));
        return false;
    }
    // Let the presence check run a few rounds first.
    waitFor([this] { return mUi->jobButtonsEnabled(); }, linkWaitMs);
    if (afterJob) {
        // Read the settings: the job ends in the settings dialog, closed as an operator would.
        const int boxesBefore = mModals.seen().size();
        mUi->button(readButton)->click();
        const bool read =
            waitFor([this, boxesBefore] { return mModals.seen().size() > boxesBefore; },
                    flashWaitMs) &&
            waitFor([this] { return mUi->jobButtonsEnabled(); }, linkWaitMs);
        if (!read) {
            result(letter, false, QStringLiteral("the read-settings job did not end"));
            return false;
        }
    }
    const int linesBefore = mUi->logLines().size();
    mStalls.start();
    if (!askHost(QStringLiteral("pull"), hostWaitMs)) {
        result(letter, false, QStringLiteral("the host did not pull the adapter"));
        return false;
    }
    QElapsedTimer sincePull;
    sincePull.start();
    const bool logged = waitFor(
        [this, linesBefore] {
            return mUi->logLines().mid(linesBefore).contains(lostModemLine) &&
                   !mUi->jobButtonsEnabled();
        },
        lostWaitMs);
    const qint64 loggedMs = sincePull.elapsed();
    qint64 closeMs = -1, refreshMs = -1, stallMs = -1;
    const bool closed = closeAndRefresh(&closeMs, &refreshMs, &stallMs);
    printLog();
    figure(letter + QStringLiteral("_logged_ms"), loggedMs);
    figure(letter + QStringLiteral("_stall_ms"), stallMs);
    figure(letter + QStringLiteral("_refresh_ms"), refreshMs);
    const bool ok = logged && closed && stallMs < stallLimitMs;
    result(letter, ok,
           QStringLiteral("pulled %1: log after %2 ms: %3; closed in %4 ms, refreshed in %5 ms, "
                          "largest stall %6 ms (target 100 ms)")
               .arg(when)
               .arg(loggedMs)
               .arg(mUi->logLines().mid(linesBefore).join(QStringLiteral(" / ")))
               .arg(closeMs)
               .arg(refreshMs)
               .arg(stallMs));
    return closed;
}

// e: the adapter plugged back (perhaps under another number), found after a refresh.
bool WindowRig::flashAfterReplug()
{
    const int boxesBefore = mModals.seen().size();
    const bool open = openAdapterPort(plugWaitMs);
    const bool linked = open && waitFor([this] { return mUi->jobButtonsEnabled(); }, linkWaitMs);
    if (linked)
        mUi->button(flashButton)->click();
    const bool flashed =
        linked &&
        waitFor([this, boxesBefore] { return mModals.seen().size() > boxesBefore; }, flashWaitMs) &&
        mModals.seen().value(boxesBefore) == flashedBox;
    result(QStringLiteral("e"), flashed,
           QStringLiteral("after a refresh the window opened %1 and the flash ended in \"%2\"")
               .arg(adapterPort(), mModals.seen().value(boxesBefore)));
    return flashed;
}

// Refreshes the list, picks the adapter by its serial number and opens it.
bool WindowRig::openAdapterPort(int waitMs)
{
    if (!waitFor([this] { return !adapterPort().isEmpty(); }, waitMs))
        return false;
    mUi->button(refreshButton)->click();
    const int index = mUi->portList()->findText(adapterPort());
    if (index < 0)
        return false;
    mUi->portList()->setCurrentIndex(index);
    mUi->openButton()->click();
    return waitFor([this] { return mUi->portOpen(); }, openWaitMs);
}

// The stall meter is read before the refresh: the refresh enumerates the ports on the
// window's thread by design, so it is timed on its own and only has to end.
bool WindowRig::closeAndRefresh(qint64 *closeMs, qint64 *refreshMs, qint64 *stallMs)
{
    QElapsedTimer clock;
    clock.start();
    mUi->closePort();
    const bool closed = waitFor([this] { return !mUi->portOpen(); }, closeWaitMs);
    *closeMs = clock.restart();
    QTest::qWait(20); // lets the meter's next tick see a close that held the loop
    *stallMs = mStalls.largestMs();
    clock.restart();
    mUi->button(refreshButton)->click();
    *refreshMs = clock.elapsed();
    return closed && *refreshMs < refreshLimitMs;
}

bool WindowRig::askHost(const QString &request, int waitMs)
{
    const QString answer = request + QStringLiteral(".done");
    mHost.take(answer);
    if (!mHost.post(request + QStringLiteral(".want")))
        return false;
    const bool answered = waitFor([this, &answer] { return mHost.has(answer); }, waitMs);
    mHost.take(request + QStringLiteral(".want"));
    mHost.take(answer);
    return answered;
}

bool WindowRig::waitFor(const std::function<bool()> &condition, int waitMs)
{
    return QTest::qWaitFor(condition, waitMs);
}

QString WindowRig::adapterPort() const
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (info.serialNumber() == mSerial)
            return info.portName();
    }
    return QString();
}

void WindowRig::result(const QString &letter, bool ok, const QString &text)
{
    if (!ok)
        ++mFailures;
    printf("RESULT %s %s %s\n", qPrintable(letter), ok ? "PASS" : "FAIL", qPrintable(text));
    fflush(stdout);
}

void WindowRig::printLog()
{
    printf("STALL %lld ms ending %s\n", static_cast<long long>(mStalls.largestMs()),
           qPrintable(mStalls.largestEnd()));
    printf("LOG %s\n", qPrintable(mUi->log()
                                      ->toPlainText()
                                      .split(QLatin1Char('\n'))
                                      .mid(mLogShown)
                                      .join(QStringLiteral("\nLOG "))));
    mLogShown = mUi->log()->toPlainText().split(QLatin1Char('\n')).size();
    fflush(stdout);
}

void WindowRig::figure(const QString &name, qint64 value) const
{
    printf("FIGURE %s %lld\n", qPrintable(name), static_cast<long long>(value));
    fflush(stdout);
}
