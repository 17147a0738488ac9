#pragma once

#include "clioutput.h"
#include "line/portlister.h"
#include "line/shiftsummary.h"
#include "line/watchrun.h"
#include "watcharguments.h"

#include <QJsonObject>
#include <QObject>
#include <QStringList>

class QIODevice;
class QTimer;

// The flasher's face of the production line: event lines prefixed by socket
// and port, on a terminal a live line per socket and the counters, with
// --json one object per event; the summary at the end. The first
// interruption lets running jobs finish, the second stops every port.
class WatchConsole : public QObject
{
    Q_OBJECT

public:
    enum ExitCode
    {
        Success = 0,
        Failure = 1,
        Interrupted = 130
    };

    WatchConsole(const WatchArguments &arguments, const PortLister &lister, QIODevice *out,
                 QIODevice *err, bool terminal, QObject *parent = nullptr);

    // Checks the settings file, opens the journal and starts watching; false
    // (the reason printed) when the watch cannot run.
    bool start();
    void interrupt();
    bool finished() const { return mRun.finished(); }
    int exitCode() const { return mExitCode; }
    WatchRun &run() { return mRun; }

    // Today's results per socket as a table: the socket, its successes and
    // failures (modems already flashed when there were any), its last failure
    // with the time; then why each socket out of service is out.
    static QString socketTable(const QList<ShiftSummary::Socket> &sockets,
                               const SocketHealth &health);

signals:
    void signal_finished();

private:
    void slot_mRun_signal_event(int number, const QString &port, const QString &text);
    void slot_mRun_signal_jobEnded(const JournalRecord &record);
    void slot_mRun_signal_finished();
    void slot_mRun_signal_fleetChanged();
    void refreshProgress();
    void json(const QString &event, int number, const QString &port, QJsonObject fields);
    QString readSettings();
    // Today's sockets from the journal, with those of this run that have no record yet.
    QList<ShiftSummary::Socket> todaysSockets() const;

    WatchArguments mArguments;
    WatchRun mRun;
    CliOutput mOutput;
    QTimer *mTimerRedraw;
    QStringList mLabels;  // the live lines' sockets, as last drawn
    QString mFleetReason; // why the server does not take the records, as last said
    int mInterrupts = 0;
    int mExitCode = Success;
};

// "lorta-flash-cli watch …": runs until the watch ends; the exit status.
int runWatch(const QStringList &arguments, QIODevice *out, QIODevice *err, bool terminal,
             const Timing &timing, const PortLister &lister = PortLister());
