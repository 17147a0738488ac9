#include "watchconsole.h"

#include "interruptwatcher.h"
#include "line/sockettexts.h"
#include "settings/settingscheck.h"
#include "settings/settingsfile.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>

namespace {
QJsonArray socketsJson(const QList<ShiftSummary::Socket> &sockets)
{
    QJsonArray array;
    for (const ShiftSummary::Socket &socket : sockets) {
        const QDateTime time = socket.lastFailureTime;
        array.append(
            QJsonObject{{QStringLiteral("socket"), socket.number},
                        {QStringLiteral("succeeded"), socket.counters.succeeded},
                        {QStringLiteral("already-flashed"), socket.counters.alreadyFlashed},
                        {QStringLiteral("failed"), socket.counters.failed},
                        {QStringLiteral("last-failure"), socket.lastFailure},
                        {QStringLiteral("last-failure-time"),
                         time.isValid() ? time.toString(Qt::ISODate) : QString()}});
    }
    return array;
}

QString socketLabel(int number, const QString &port)
{
    return QStringLiteral("гнездо ") + QString::number(number) + QLatin1Char(' ') + port;
}
} // namespace

WatchConsole::WatchConsole(const WatchArguments &arguments, const PortLister &lister,
                           QIODevice *out, QIODevice *err, bool terminal, QObject *parent)
    : QObject(parent), mArguments(arguments), mRun(arguments.options, lister),
      mOutput(out, err, arguments.json, terminal && !arguments.json), mTimerRedraw(new QTimer(this))
{
    mTimerRedraw->setInterval(arguments.options.timing.redraw);
    connect(mTimerRedraw, &QTimer::timeout, this, [this]() {
        refreshProgress();
        mOutput.redraw();
    });
    connect(&mRun, &WatchRun::signal_event, this, &WatchConsole::slot_mRun_signal_event);
    connect(&mRun, &WatchRun::signal_presentSkipped, this, [this](const QStringList &ports) {
        mOutput.event(QStringLiteral("watch"),
                      SocketText::presentSkipped(
                          ports, QStringLiteral("чтобы взять их, запустите с --include-present")));
    });
    connect(&mRun, &WatchRun::signal_jobEnded, this, &WatchConsole::slot_mRun_signal_jobEnded);
    connect(&mRun, &WatchRun::signal_finished, this, &WatchConsole::slot_mRun_signal_finished);
    connect(&mRun, &WatchRun::signal_problem, this, [this](const QString &text) {
        mOutput.event(QStringLiteral("журнал"), text);
        json(QStringLiteral("problem"), 0, QString(), {{QStringLiteral("text"), text}});
    });
    connect(&mRun, &WatchRun::signal_fleetChanged, this,
            &WatchConsole::slot_mRun_signal_fleetChanged);
    connect(&mRun, &WatchRun::signal_provisionProblem, this, [this](const QString &text) {
        mOutput.event(QStringLiteral("таблица"), text);
        json(QStringLiteral("provision"), 0, QString(), {{QStringLiteral("text"), text}});
    });
    // A record the journal did not take goes out whole, so the operator can keep it.
    connect(&mRun, &WatchRun::signal_recordUnwritten, this,
            [this](const JournalRecord &record, const QByteArray &line, const QString &reason) {
                const QString text = QString::fromUtf8(line).trimmed();
                mOutput.error(QStringLiteral("не записан в журнал (") + reason +
                              QStringLiteral("): ") + text);
                json(QStringLiteral("unwritten"), record.socket, record.port,
                     {{QStringLiteral("line"), text}, {QStringLiteral("reason"), reason}});
            });
    connect(&mRun, &WatchRun::signal_portAdded, this, [this](int number, const QString &port) {
        json(QStringLiteral("socket-added"), number, port, {});
    });
    connect(&mRun, &WatchRun::signal_portRemoved, this, [this](int number, const QString &port) {
        slot_mRun_signal_event(number, port, QStringLiteral("Модем вынут"));
        json(QStringLiteral("socket-removed"), number, port, {});
    });
    connect(&mRun, &WatchRun::signal_identified, this, [this](int number, const QString &imei) {
        json(QStringLiteral("imei"), number, mRun.sockets().value(number)->port().name,
             {{QStringLiteral("imei"), imei}});
    });
    connect(&mRun, &WatchRun::signal_socketChanged, this, [this](int number) {
        const SocketRun *socket = mRun.sockets().value(number);
        if (socket->state() == SocketRun::State::Running)
            json(QStringLiteral("progress"), number, socket->port().name,
                 {{QStringLiteral("percent"), socket->progress()},
                  {QStringLiteral("step"), socket->step()}});
        else if (socket->state() == SocketRun::State::Identifying)
            json(QStringLiteral("connected"), number, socket->port().name, {});
    });
}

// The settings file is read and checked once; every modem gets exactly those
// bytes, whatever happens to the file while the watch runs.
QString WatchConsole::readSettings()
{
    const QString file = mArguments.options.settingsFile;
    const SmallFile content = readSmallFile(file, maxSettingsFileBytes);
    const bool missingDefault = mArguments.options.job == OperationType::Flash &&
                                !mArguments.settingsGiven && !QFileInfo::exists(file);
    if (missingDefault)
        return QString();
    const QString problem = settingsContentProblem(file, content);
    if (problem.isEmpty())
        mRun.setSettingsContent(content);
    return problem;
}

bool WatchConsole::start()
{
    QString problem = readSettings();
    if (problem.isEmpty())
        mRun.start(&problem);
    if (!problem.isEmpty()) {
        mOutput.error(problem);
        mOutput.finish(msOf(mArguments.options.timing.outputFinish));
        mExitCode = Failure;
        return false;
    }
    mOutput.event(QStringLiteral("watch"),
                  QStringLiteral("Ждём модемы; журнал ") + mRun.journalFileName());
    mTimerRedraw->start();
    return true;
}

void WatchConsole::interrupt()
{
    ++mInterrupts;
    if (mInterrupts == 1) {
        mOutput.event(QStringLiteral("watch"),
                      QStringLiteral("Новые модемы не запускаются, идущие задания доводятся до "
                                     "конца; повторное прерывание остановит всё"));
        mRun.stopGracefully();
    } else {
        mExitCode = Interrupted;
        mRun.stopNow();
    }
}

void WatchConsole::slot_mRun_signal_event(int number, const QString &port, const QString &text)
{
    mOutput.event(socketLabel(number, port), text);
}

void WatchConsole::slot_mRun_signal_jobEnded(const JournalRecord &record)
{
    const QString verdict = JournalRecord::resultText(record.result);
    QString line = QStringLiteral("Итог: ") + verdict;
    if (!record.text.isEmpty() && record.text != verdict)
        line += QStringLiteral(" (") + record.text + QLatin1Char(')');
    if (!record.step.isEmpty())
        line += QStringLiteral(", шаг ") + record.step;
    mOutput.event(socketLabel(record.socket, record.port), line);
    json(QStringLiteral("job-ended"), record.socket, record.port,
         {{QStringLiteral("serial"), record.serialNumber},
          {QStringLiteral("imei"), record.imei},
          {QStringLiteral("job"), record.job},
          {QStringLiteral("result"), verdict},
          {QStringLiteral("step"), record.step},
          {QStringLiteral("text"), record.text},
          {QStringLiteral("seconds"), record.seconds},
          {QStringLiteral("sha256"), record.fileHashes.join(QLatin1Char(' '))},
          {QStringLiteral("settingsFile"), record.settingsFile},
          {QStringLiteral("settingsSha256"), record.settingsHash},
          {QStringLiteral("tableRow"),
           record.tableRow > 0 ? QJsonValue(record.tableRow) : QJsonValue()},
          {QStringLiteral("record"), record.recordId}});
}

void WatchConsole::slot_mRun_signal_finished()
{
    mTimerRedraw->stop();
    mOutput.clearProgress();
    const int unwritten = mRun.unwrittenLines().size();
    QString summary = QStringLiteral("Итого: успешно %1, ошибок %2, модемов в час %3")
                          .arg(mRun.succeeded())
                          .arg(mRun.failed())
                          .arg(mRun.modemsPerHourText());
    if (mRun.alreadyFlashed() > 0)
        summary += QStringLiteral(", уже прошиты: %1").arg(mRun.alreadyFlashed());
    if (unwritten > 0)
        summary += QStringLiteral(", не записан в журнал: %1").arg(unwritten);
    if (!mRun.provisionText().isEmpty())
        summary += QStringLiteral(", ") + mRun.provisionText().toLower();
    mOutput.error(summary);
    if (!mRun.fleetText().isEmpty())
        mOutput.error(mRun.fleetText() + QStringLiteral("; они уйдут при следующем запуске"));
    const QList<ShiftSummary::Socket> sockets = todaysSockets();
    if (!sockets.isEmpty())
        mOutput.error(socketTable(sockets, mRun.health()).chopped(1));
    json(QStringLiteral("summary"), 0, QString(),
         {{QStringLiteral("succeeded"), mRun.succeeded()},
          {QStringLiteral("already-flashed"), mRun.alreadyFlashed()},
          {QStringLiteral("failed"), mRun.failed()},
          {QStringLiteral("unwritten"), unwritten},
          {QStringLiteral("sockets"), socketsJson(sockets)},
          {QStringLiteral("records-waiting"), mRun.fleetWaiting()},
          {QStringLiteral("table-rows-left"),
           mRun.provisionText().isEmpty() ? QJsonValue() : QJsonValue(mRun.provisionLeft())}});
    // How long the end waits for a slow reader before it reports the output lost.
    const bool delivered = mOutput.finish(msOf(mArguments.options.timing.outputFinish));
    if (mExitCode != Interrupted && (mRun.failed() > 0 || mRun.journalFailed() || !delivered))
        mExitCode = Failure;
    emit signal_finished();
}

QList<ShiftSummary::Socket> WatchConsole::todaysSockets() const
{
    QMap<int, ShiftSummary::Socket> sockets;
    for (const ShiftSummary::Socket &socket :
         ShiftSummary::of(mRun.todaysRecords(), mRun.now()).sockets())
        sockets.insert(socket.number, socket);
    for (const SocketRun *socket : mRun.sockets()) {
        if (!sockets.contains(socket->number()))
            sockets[socket->number()].number = socket->number();
    }
    return sockets.values();
}

QString WatchConsole::socketTable(const QList<ShiftSummary::Socket> &sockets,
                                  const SocketHealth &health)
{
    const bool alreadyFlashed =
        std::any_of(sockets.cbegin(), sockets.cend(), [](const ShiftSummary::Socket &socket) {
            return socket.counters.alreadyFlashed > 0;
        });
    QList<QStringList> rows{{QStringLiteral("Гнездо"), QStringLiteral("Успешно"),
                             QStringLiteral("Ошибки"), QStringLiteral("Последняя ошибка")}};
    if (alreadyFlashed)
        rows.first().insert(3, QStringLiteral("Уже прошиты"));
    QStringList disabled;
    for (const ShiftSummary::Socket &socket : sockets) {
        QString last = CliOutput::printable(socket.lastFailure);
        if (socket.lastFailureTime.isValid())
            last = socket.lastFailureTime.toString(QStringLiteral("hh:mm ")) + last;
        QStringList row{QString::number(socket.number), QString::number(socket.counters.succeeded),
                        QString::number(socket.counters.failed), last};
        if (alreadyFlashed)
            row.insert(3, QString::number(socket.counters.alreadyFlashed));
        rows << row;
        if (health.isDisabled(socket.number))
            disabled << health.disabledReason(socket.number);
    }
    QString table = QStringLiteral("Сегодня по гнёздам:\n") + CliOutput::columns(rows);
    for (const QString &reason : qAsConst(disabled))
        table += reason + QLatin1Char('\n');
    return table;
}

void WatchConsole::refreshProgress()
{
    QStringList labels;
    QStringList texts;
    for (const SocketRun *socket : mRun.sockets()) {
        labels << socketLabel(socket->number(), socket->port().name);
        QString text = socket->stateText();
        if (socket->state() == SocketRun::State::Running)
            text = QString::number(socket->progress()) + QStringLiteral("% ") + text;
        texts << text;
    }
    labels << QStringLiteral("итого");
    QString totals = QStringLiteral("успешно %1 / ошибок %2 / модемов в час %3")
                         .arg(mRun.succeeded())
                         .arg(mRun.failed())
                         .arg(mRun.modemsPerHourText());
    const QString rows = mRun.provisionText();
    if (!rows.isEmpty())
        totals += QStringLiteral(" / ") + rows.toLower();
    if (!mRun.fleetText().isEmpty())
        totals += QStringLiteral(" / ") + mRun.fleetText();
    texts << totals;
    if (labels != mLabels) {
        mLabels = labels;
        mOutput.setPorts(labels);
    }
    for (int i = 0; i < texts.size(); ++i)
        mOutput.setProgress(i, texts.at(i));
}

// Said when the server stops or starts taking the records, or for another
// reason; the count of those waiting is on the status line.
void WatchConsole::slot_mRun_signal_fleetChanged()
{
    const QString text = mRun.fleetText();
    const QString reason = text.section(QStringLiteral(" — "), 1);
    if (reason == mFleetReason)
        return;
    mFleetReason = reason;
    const QString said = text.isEmpty() ? QStringLiteral("База снова принимает записи") : text;
    mOutput.event(QStringLiteral("база"), said);
    json(QStringLiteral("db"), 0, QString(),
         {{QStringLiteral("text"), said},
          {QStringLiteral("available"), text.isEmpty()},
          {QStringLiteral("waiting"), mRun.fleetWaiting()}});
}

void WatchConsole::json(const QString &event, int number, const QString &port, QJsonObject fields)
{
    if (!mArguments.json)
        return;
    fields.insert(QStringLiteral("event"), event);
    if (number > 0) {
        fields.insert(QStringLiteral("socket"), number);
        fields.insert(QStringLiteral("port"), port);
    }
    mOutput.results(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
}

int runWatch(const QStringList &arguments, QIODevice *out, QIODevice *err, bool terminal,
             const Timing &timing, const PortLister &lister)
{
    QString error;
    std::optional<WatchArguments> parsed = WatchArguments::parse(arguments, &error);
    if (!parsed) {
        err->write(("lorta-flash-cli: " + error + '\n' + WatchArguments::usage()).toUtf8());
        return 2;
    }
    parsed->options.timing = timing;
    WatchConsole console(*parsed, lister, out, err, terminal);
    InterruptWatcher watcher;
    QObject::connect(&watcher, &InterruptWatcher::signal_interrupted, &console,
                     &WatchConsole::interrupt);
    if (!console.start())
        return console.exitCode();
    QEventLoop loop;
    QObject::connect(&console, &WatchConsole::signal_finished, &loop, &QEventLoop::quit);
    if (!console.finished())
        loop.exec();
    return console.exitCode();
}
