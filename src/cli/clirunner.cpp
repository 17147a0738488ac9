#include "clirunner.h"

#include "interruptwatcher.h"
#include "settingscheck.h"
#include "watchconsole.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QTimer>

namespace {
constexpr int redrawIntervalMs = 200;

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

CliRunner::CliRunner(const CliArguments &arguments, QIODevice *out, QIODevice *err, bool terminal,
                     QObject *parent)
    : QObject(parent), mArguments(arguments), mOut(out), mErr(err),
      mOutput(arguments.json ? err : out, terminal && !arguments.json),
      mTimerRedraw(new QTimer(this))
{
    mTimerRedraw->setInterval(redrawIntervalMs);
    connect(mTimerRedraw, &QTimer::timeout, this, [this] {
        for (int i = 0; i < mRuns.size(); ++i)
            mOutput.setProgress(i, mRuns.at(i)->progressText());
        mOutput.redraw();
    });
}

// The settings file goes into the modems only after it passed, so a bad file
// leaves every modem as it was. Flash needs it only for a modem without one:
// a missing default file is then the modem's own failure, as in the window.
QString CliRunner::preflightProblem() const
{
    const bool load = mArguments.job == OperationType::LoadSettings;
    const bool flash = mArguments.job == OperationType::Flash;
    if (!load && !flash)
        return QString();
    const QString problem = settingsFileProblem(mArguments.settingsFile);
    const bool missingDefault =
        flash && !mArguments.settingsGiven && !QFileInfo::exists(mArguments.settingsFile);
    return missingDefault ? QString() : problem;
}

bool CliRunner::start()
{
    QString problem = preflightProblem();
    if (problem.isEmpty() && !mArguments.logFile.isEmpty())
        mOutput.openJournal(mArguments.logFile, &problem);
    if (!problem.isEmpty()) {
        mErr->write((problem + QLatin1Char('\n')).toUtf8());
        mExitCode = Failure;
        return false;
    }
    mOutput.setPorts(mArguments.ports);
    for (const QString &port : qAsConst(mArguments.ports)) {
        auto *run = new PortRun(port, mArguments.job, mArguments.jobName, this);
        run->setSettingsSource(mArguments.settingsFile);
        run->setReadTarget(mArguments.readTargetFor(port));
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
    for (const PortRun *run : qAsConst(mRuns)) {
        if (!run->finished())
            return;
    }
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
        for (const PortResult &result : qAsConst(results))
            mOut->write(resultJson(result) + '\n');
    } else {
        mOut->write(resultTable(results).toUtf8());
    }
    mExitCode = mInterrupted ? Interrupted : (allOk ? Success : Failure);
    emit signal_finished();
}

QString CliRunner::resultTable(const QList<PortResult> &results)
{
    QList<QStringList> rows{{QStringLiteral("Порт"), QStringLiteral("Задание"),
                             QStringLiteral("Результат"), QStringLiteral("Время, с"),
                             QStringLiteral("Итог")}};
    for (const PortResult &r : results)
        rows << QStringList{r.port, r.job, resultWord(r), QString::number(r.seconds, 'f', 1),
                            r.text};
    QVector<int> widths(rows.first().size() - 1, 0);
    for (const QStringList &row : qAsConst(rows)) {
        for (int i = 0; i < widths.size(); ++i)
            widths[i] = qMax(widths[i], row.at(i).size());
    }
    QString table;
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int i = 0; i < widths.size(); ++i)
            line += row.at(i).leftJustified(widths.at(i)) + QStringLiteral("  ");
        table += line + row.last() + QLatin1Char('\n');
    }
    return table;
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
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

int runCli(const QStringList &arguments, QIODevice *out, QIODevice *err, bool terminal)
{
    if (arguments.value(0) == QLatin1String("watch"))
        return runWatch(arguments.mid(1), out, err, terminal);
    QString error;
    const std::optional<CliArguments> parsed = CliArguments::parse(arguments, &error);
    if (!parsed) {
        err->write(("lorta-flash-cli: " + error + '\n' + CliArguments::usage()).toUtf8());
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
    CliRunner runner(*parsed, out, err, terminal);
    if (!runner.start())
        return runner.exitCode();
    InterruptWatcher watcher;
    QObject::connect(&watcher, &InterruptWatcher::signal_interrupted, &runner,
                     &CliRunner::interrupt);
    QEventLoop loop;
    QObject::connect(&runner, &CliRunner::signal_finished, &loop, &QEventLoop::quit);
    if (!runner.finished())
        loop.exec();
    return runner.exitCode();
}
