#pragma once

#include "cliarguments.h"
#include "clioutput.h"
#include "line/provisiondesk.h"
#include "portrun.h"

#include <QList>
#include <QObject>

class QIODevice;
class QTimer;

// Runs one job on every port at once, each on its own session and worker
// thread, prints the events as they come, and ends with a table (or one JSON
// object a port). An interruption stops every port at once.
class CliRunner : public QObject
{
    Q_OBJECT

public:
    enum ExitCode
    {
        Success = 0,
        Failure = 1,
        Usage = 2,
        Interrupted = 130
    };

    CliRunner(const CliArguments &arguments, const Timing &timing, QIODevice *out, QIODevice *err,
              bool terminal, QObject *parent = nullptr);

    // Checks the files, starts every port; false when nothing could start
    // (the reason is printed) and the run is over with exitCode().
    bool start();
    bool finished() const;
    int exitCode() const { return mExitCode; }
    const QList<PortRun *> &runs() const { return mRuns; }

    void interrupt();

    static QString resultTable(const QList<PortResult> &results);
    static QByteArray resultJson(const PortResult &result);
    // The one JSON object a refused run prints, so that a reader of standard output sees why.
    static QByteArray errorJson(const QString &error);

signals:
    void signal_finished();

private:
    void slot_run_finished();
    void printResults();
    QString preflightProblem();
    QString readTargetsProblem() const;
    QString openDesk();
    void provision(PortRun *run);
    void noteRowResult(const PortRun *run);

    CliArguments mArguments;
    Timing mTiming;
    CliOutput mOutput;
    SmallFile mSettings;
    QList<PortRun *> mRuns;
    ProvisionDesk *mDesk = nullptr;       // with a provisioning table only
    QList<const PortRun *> mListRowNoted; // whose row's result went to the used-rows file
    QTimer *mTimerRedraw;
    bool mInterrupted = false;
    bool mReported = false;
    int mExitCode = Success;
};

// The whole command: parses, lists ports or runs a job until it ends; the exit
// status. The program's timing is the default one; tests scale it.
int runCli(const QStringList &arguments, QIODevice *out, QIODevice *err, bool terminal,
           const Timing &timing);
