#include "clirunner.h"

#include "interruptwatcher.h"
#include "protocol/modemtext.h"
#include "provisionarguments.h"
#include "reportarguments.h"
#include "settings/settingscheck.h"
#include "settings/settingsfile.h"
#include "watchconsole.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>

namespace {
QString resultWord(const PortResult &result)
{
    if (result.interrupted)
        return QStringLiteral("прервано");
    return result.ok ? QStringLiteral("успех") : QStringLiteral("ошибка");
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

QString portsListing()
{
    QString text;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        QStringList fields{port.portName(), port.description(), port.manufacturer()};
        if (port.hasVendorIdentifier() && port.hasProductIdentifier())
            fields << hex4(port.vendorIdentifier()) + QLatin1Char(':') +
                          hex4(port.productIdentifier());
        fields.removeAll(QString());
        text += fields.join(QStringLiteral("  ")) + QLatin1Char('\n');
    }
    return text;
}
} // namespace

CliRunner::CliRunner(const CliArguments &arguments, const Timing &timing, QIODevice *out,
                     QIODevice *err, bool terminal, QObject *parent)
    : QObject(parent), mArguments(arguments), mTiming(timing),
      mOutput(out, err, arguments.json, terminal), mTimerRedraw(new QTimer(this))
{
    mTimerRedraw->setInterval(timing.redraw);
    connect(mTimerRedraw, &QTimer::timeout, this, [this] {
        for (int i = 0; i < mRuns.size(); ++i)
            mOutput.setProgress(i, mRuns.at(i)->progressText());
        mOutput.redraw();
    });
}

// The settings file is read once, here: the bytes checked are the bytes every
// modem gets, whatever happens to the file during the run. It goes into the
// modems only after it passed, so a bad file leaves every modem as it was.
// Flash needs it only for a modem without one: a missing default file is then
// the modem's own failure, as in the window.
QString CliRunner::preflightProblem()
{
    const bool load = mArguments.job == OperationType::LoadSettings;
    const bool flash = mArguments.job == OperationType::Flash;
    if (mArguments.job == OperationType::ReadSettings)
        return readTargetsProblem();
    if (!load && !flash)
        return QString();
    // Without blocking and only when small: a FIFO or a device stays unopened.
    mSettings = readSmallFile(mArguments.settingsFile, maxSettingsFileBytes);
    const QString problem = settingsContentProblem(mArguments.settingsFile, mSettings);
    const bool missingDefault =
        flash && !mArguments.settingsGiven && !QFileInfo::exists(mArguments.settingsFile);
    if (!missingDefault && !problem.isEmpty())
        return problem;
    return mArguments.provisionFile.isEmpty() ? QString() : openDesk();
}

// The table is checked whole against the settings its rows are composed over.
QString CliRunner::openDesk()
{
    // Not read: the file is missing, and its rows go over the template.
    const QStringList base = settingsLines(mSettings);
    mDesk = new ProvisionDesk(this);
    QString error;
    constexpr int lowMark = 10;
    if (!mDesk->open(mArguments.provisionFile, base, lowMark, &error))
        return error;
    connect(mDesk, &RowDesk::signal_problem, this,
            [this](const QString &text) { mOutput.error(text); });
    connect(mDesk, &RowDesk::signal_exhausted, this,
            [this](const QString &text) { mOutput.error(text); });
    connect(mDesk, &RowDesk::signal_allWritten, this, &CliRunner::slot_run_finished);
    return QString();
}

// Each port's job waits for its modem's row, given once it is on the disk.
void CliRunner::provision(PortRun *run)
{
    run->setProvisioned(true);
    connect(run, &PortRun::signal_settingsWanted, this, [this, run](const QString &imei) {
        mDesk->request(imei, run, [this, run](const RowDesk::Grant &grant) {
            if (grant.row == 0) {
                run->refuseJob(grant.refusal);
                return;
            }
            if (!grant.note.isEmpty())
                mOutput.event(run->result().port, grant.note);
            run->giveSettings(grant.settings, grant.row);
        });
    });
}

void CliRunner::noteRowResult(const PortRun *run)
{
    const PortResult &result = run->result();
    if (!mDesk || result.tableRow == 0 || mListRowNoted.contains(run))
        return;
    mListRowNoted << run;
    mDesk->noteResult(result.tableRow, result.imei,
                      result.ok ? JournalRecord::Result::Success
                                : (result.interrupted ? JournalRecord::Result::Interrupted
                                                      : JournalRecord::Result::Failure));
}

// A default copy's name is ours: a link planted there would send the modem's
// settings wherever it points.
QString CliRunner::readTargetsProblem() const
{
    if (!mArguments.outFile.isEmpty())
        return QString();
    for (const QString &port : mArguments.ports) {
        const QString target = mArguments.readTargetFor(port);
        const QFileInfo info(target);
        if (info.isSymLink() || (info.exists() && !info.isFile()))
            return QStringLiteral("Файл ") + target +
                   QStringLiteral(" не обычный файл (ссылка или устройство); удалите его или "
                                  "укажите --out");
    }
    return QString();
}

bool CliRunner::start()
{
    QString problem = preflightProblem();
    if (problem.isEmpty() && !mArguments.logFile.isEmpty())
        mOutput.openJournal(mArguments.logFile, &problem);
    if (!problem.isEmpty()) {
        mOutput.error(problem);
        if (mArguments.json)
            mOutput.results(errorJson(problem) + '\n');
        mExitCode = Failure;
        mOutput.finish(msOf(mTiming.outputFinish));
        return false;
    }
    mOutput.setPorts(mArguments.ports);
    for (const QString &port : qAsConst(mArguments.ports)) {
        auto *run = new PortRun(port, mArguments.job, mArguments.jobName, mTiming, this);
        run->setSettingsContent(mSettings);
        run->setReadTarget(mArguments.readTargetFor(port));
        if (mDesk)
            provision(run);
        connect(run, &PortRun::signal_logLine, this,
                [this](const QString &name, const QString &line) { mOutput.event(name, line); });
        connect(run, &PortRun::signal_finished, this, &CliRunner::slot_run_finished);
        mRuns << run;
    }
    for (PortRun *run : qAsConst(mRuns))
        run->start(mArguments.connectTimeoutS);
    mTimerRedraw->start();
    return true;
}

bool CliRunner::finished() const
{
    return mReported;
}

// Every worker is asked to stop before any is waited for, so all ports stop
// within one worker slice, however many there are.
void CliRunner::interrupt()
{
    if (mReported || mInterrupted)
        return;
    mInterrupted = true;
    for (PortRun *run : qAsConst(mRuns))
        run->requestStop();
    for (PortRun *run : qAsConst(mRuns))
        run->finishStop();
}

void CliRunner::slot_run_finished()
{
    bool all = true;
    for (const PortRun *run : qAsConst(mRuns)) {
        if (run->finished())
            noteRowResult(run);
        all = all && run->finished();
    }
    // The results are printed once the used-rows file holds every job's end.
    if (all && (!mDesk || mDesk->pending() == 0))
        printResults();
}

void CliRunner::printResults()
{
    if (mReported)
        return;
    mReported = true;
    mTimerRedraw->stop();
    mOutput.clearProgress();
    QList<PortResult> results;
    bool allOk = true;
    for (const PortRun *run : qAsConst(mRuns)) {
        results << run->result();
        allOk = allOk && run->result().ok;
    }
    if (mArguments.json) {
        QByteArray lines;
        for (const PortResult &result : qAsConst(results))
            lines += resultJson(result) + '\n';
        mOutput.results(lines);
    } else {
        mOutput.results(resultTable(results).toUtf8());
    }
    // Output that never arrived is a failure too: nobody saw these results.
    // How long the end waits for a reader that has stopped reading.
    const bool delivered = mOutput.finish(msOf(mTiming.outputFinish));
    mExitCode = mInterrupted ? Interrupted : (allOk && delivered ? Success : Failure);
    emit signal_finished();
}

QString CliRunner::resultTable(const QList<PortResult> &results)
{
    QList<QStringList> rows{{QStringLiteral("Порт"), QStringLiteral("Задание"),
                             QStringLiteral("Результат"), QStringLiteral("Время, с"),
                             QStringLiteral("Итог")}};
    const bool files = std::any_of(results.cbegin(), results.cend(),
                                   [](const PortResult &r) { return !r.file.isEmpty(); });
    const bool table = std::any_of(results.cbegin(), results.cend(),
                                   [](const PortResult &r) { return r.tableRow > 0; });
    if (files)
        rows.first().insert(4, QStringLiteral("Файл"));
    if (table)
        rows.first().insert(4, QStringLiteral("Строка таблицы"));
    for (const PortResult &r : results) {
        QStringList row{CliOutput::printable(r.port), r.job, resultWord(r),
                        QString::number(r.seconds, 'f', 1), CliOutput::printable(r.text)};
        if (files)
            row.insert(4, CliOutput::printable(r.file));
        if (table)
            row.insert(4, r.tableRow > 0 ? QString::number(r.tableRow) : QStringLiteral("—"));
        rows << row;
    }
    return CliOutput::columns(rows);
}

QByteArray CliRunner::resultJson(const PortResult &result)
{
    const QJsonObject object{{QStringLiteral("port"), result.port},
                             {QStringLiteral("job"), result.job},
                             {QStringLiteral("ok"), result.ok},
                             {QStringLiteral("interrupted"), result.interrupted},
                             {QStringLiteral("seconds"), result.seconds},
                             {QStringLiteral("text"), result.text},
                             {QStringLiteral("log"), QJsonArray::fromStringList(result.log)}};
    QJsonObject withFile = object;
    if (!result.file.isEmpty())
        withFile.insert(QStringLiteral("file"), result.file);
    if (result.tableRow > 0) {
        withFile.insert(QStringLiteral("imei"), result.imei);
        withFile.insert(QStringLiteral("tableRow"), result.tableRow);
    }
    return QJsonDocument(withFile).toJson(QJsonDocument::Compact);
}

QByteArray CliRunner::errorJson(const QString &error)
{
    const QJsonObject object{{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

int runCli(const QStringList &arguments, QIODevice *out, QIODevice *err, bool terminal,
           const Timing &timing)
{
    if (arguments.value(0) == QLatin1String("watch"))
        return runWatch(arguments.mid(1), out, err, terminal, timing);
    if (arguments.value(0) == QLatin1String("report"))
        return runReport(arguments.mid(1), out, err);
    if (arguments.value(0) == QLatin1String("provision"))
        return runProvision(arguments.mid(1), out, err);
    // First, so that an interruption from the first moment on ends the run as
    // any other does; the notifier reports it once the loop runs.
    InterruptWatcher watcher;
    QString error;
    const std::optional<CliArguments> parsed = CliArguments::parse(arguments, &error);
    if (!parsed) {
        err->write(("lorta-flash-cli: " + error + '\n' + CliArguments::usage()).toUtf8());
        if (arguments.contains(QStringLiteral("--json")))
            out->write(CliRunner::errorJson(error) + '\n');
        return CliRunner::Usage;
    }
    if (parsed->command == CliArguments::Command::Help) {
        out->write(CliArguments::usage().toUtf8());
        return CliRunner::Success;
    }
    if (parsed->command == CliArguments::Command::Ports) {
        out->write(portsListing().toUtf8());
        return CliRunner::Success;
    }
    CliRunner runner(*parsed, timing, out, err, terminal);
    QObject::connect(&watcher, &InterruptWatcher::signal_interrupted, &runner,
                     &CliRunner::interrupt);
    if (!runner.start())
        return runner.exitCode();
    QEventLoop loop;
    QObject::connect(&runner, &CliRunner::signal_finished, &loop, &QEventLoop::quit);
    if (!runner.finished())
        loop.exec();
    return runner.exitCode();
}
