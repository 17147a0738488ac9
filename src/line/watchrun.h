#pragma once

#include "fleet/fleetfloor.h"
#include "journal.h"
#include "linecounters.h"
#include "portwatcher.h"
#include "provisiondesk.h"
#include "sockethealth.h"
#include "socketnumbers.h"
#include "socketrun.h"
#include "watchoptions.h"
#include "workerthread.h"
#include "yieldmeter.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>

// The production line: watches for matching adapters, gives each USB position
// a socket number and a SocketRun, and journals every job. A front end (the
// flasher's console, a bench window's socket model) follows it by its signals:
// signal_socketChanged for a socket's state, step, progress and IMEI, and
// signal_jobEnded for the verdict. Nothing here blocks the event loop: the
// journal's lines and the numbers file are written on a thread of their own,
// in order; no job starts while a line is on its way, and the watch finishes
// once the last one is on the disk.
class WatchRun : public QObject
{
    Q_OBJECT

public:
    WatchRun(const WatchOptions &options, const PortLister &lister, QObject *parent = nullptr);

    void setJournalClock(Journal::Clock clock) { mJournal.setClock(std::move(clock)); }
    // The settings file as read once; every socket sends exactly these bytes.
    void setSettingsContent(const SmallFile &content) { mOptions.settingsContent = content; }
    // Opens the journal and the socket numbers and starts watching; false with a reason.
    bool start(QString *error);
    // First interruption: no new modem starts, running jobs finish.
    void stopGracefully();
    // Second one: every port closes now, running jobs end as interrupted.
    void stopNow();

    bool finished() const { return mFinished; }
    int succeeded() const { return mCounters.succeeded; }
    int alreadyFlashed() const { return mCounters.alreadyFlashed; }
    int failed() const { return mCounters.failed; }
    // Successes of the last hour, as the counters show it ("—" in the first minutes).
    QString modemsPerHourText() const;
    // A journal line could not be written: the watch stopped for that.
    bool journalFailed() const { return mJournalFailed; }
    // The records that did not reach the journal, each as its line, in order.
    const QList<QByteArray> &unwrittenLines() const { return mUnwritten; }
    const QMap<int, SocketRun *> &sockets() const { return mSockets; }
    // The file the journal's lines go into (beside the given one when that holds an older layout).
    QString journalFileName() const { return mJournal.fileName(); }
    // Each socket's results today, and whether it is out of service.
    const SocketHealth &health() const { return mHealth; }
    // Today's journal lines as the journal knows them (read at the start, noted since).
    QList<JournalRecord> todaysRecords() const { return mJournal.todaysRecords(); }
    // The journal's clock: what "today" is for the records.
    QDateTime now() const { return mJournal.now(); }
    // The provisioning table's rows left, and whether it runs low; empty without a table.
    QString provisionText() const { return mDesk ? mDesk->leftText() : QString(); }
    int provisionLeft() const { return mDesk ? mDesk->left() : 0; }
    // "База недоступна: N записей ждут отправки — why"; empty while the server
    // takes the records, or without one.
    QString fleetText() const { return mFloor ? mFloor->statusText() : QString(); }
    int fleetWaiting() const { return mFloor ? mFloor->waiting() : 0; }
    // A socket taken out of service takes modems again; false when it was in service.
    bool returnToService(int number);
    // Gives a socket without a running job another free number, kept in the
    // numbers file; false with a reason.
    bool renumber(int from, int to, QString *error);

signals:
    void signal_socketAdded(int number);
    // The socket numbered from is numbered to from now on.
    void signal_socketRenumbered(int from, int to);
    void signal_socketChanged(int number);
    void signal_portAdded(int number, QString port);
    void signal_portRemoved(int number, QString port);
    // Matching ports that were there at the start and are left alone.
    void signal_presentSkipped(QStringList ports);
    // A line for the operator about one socket's modem.
    void signal_event(int number, QString port, QString text);
    void signal_identified(int number, QString imei);
    // The modem's IMEI was already flashed successfully today: the warning text.
    void signal_duplicate(int number, QString warning);
    void signal_logLine(int number, QString line);
    void signal_jobEnded(JournalRecord record);
    // A record is on the disk; its time is the one its line carries.
    void signal_recordWritten(JournalRecord record);
    // The provisioning table's rows left changed (provisionText()).
    void signal_provisionChanged();
    // About the provisioning table: used up, or its used-rows file not written.
    void signal_provisionProblem(QString text);
    // The floor's server took the records again, or stopped taking them (fleetText()).
    void signal_fleetChanged();
    // A problem of the whole watch (the journal, the numbers file).
    void signal_problem(QString text);
    // A record that could not be written into the journal: its whole line and why.
    void signal_recordUnwritten(JournalRecord record, QByteArray line, QString reason);
    void signal_finished();

private slots:
    void slot_mWatcher_signal_portAdded(const PortEntry &port);
    void slot_mWatcher_signal_portRemoved(const PortEntry &port);
    void slot_socket_signal_identified(int number, const QString &imei);
    void slot_socket_signal_jobEnded(const JournalRecord &given);
    void slot_socket_signal_settingsWanted(int number, const QString &imei);

private:
    SocketRun *socketFor(const PortEntry &port);
    // The settings file's lines each table row's are composed over.
    QStringList baseSettings() const;
    bool openDesk(QString *error);
    bool openFloor(QString *error);
    void openFleetDesk();
    void connectDesk();
    void warnDuplicate(int number, const QString &imei);
    void warn(int number, const QString &warning);
    void saveNumbers();
    JournalRecord recorded(const JournalRecord &given) const;
    void journalWritten(const JournalRecord &record, const QDateTime &time, const QByteArray &line,
                        const QString &error, const QStringList &notes);
    void holdJobs(bool hold);
    void checkFinished();

    WatchOptions mOptions;
    PortWatcher *mWatcher;
    Journal mJournal;
    SocketNumbers mNumbers;
    QMap<int, SocketRun *> mSockets;
    QElapsedTimer mClock;
    YieldMeter mYield;
    LineCounters mCounters;
    SocketHealth mHealth;
    bool mAccepting = true;
    bool mJournalFailed = false;
    bool mFinished = false;
    int mLinesPending = 0; // journal lines handed to the writer, not yet on the disk
    QList<QByteArray> mUnwritten;
    RowDesk *mDesk = nullptr;     // with a provisioning table only
    FleetFloor *mFloor = nullptr; // with the floor's server only
    bool mFloorAwaited = true;    // the end waits for the server to take the records
    // Declared last, so destroyed first: its tasks use the journal.
    WorkerThread mWriter{QStringLiteral("WatchWriter")};
};
