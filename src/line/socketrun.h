#pragma once

#include "journalrecord.h"
#include "portentry.h"
#include "session/modemsession.h"
#include "session/operationtype.h"
#include "settings/smallfile.h"
#include "socketmemory.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <optional>

// One bench socket: the session of whichever modem is plugged in there. A
// port that appears is opened and checked until a modem answers, which is
// asked for its IMEI and, when it is a new modem (SocketMemory), given the
// job; its end is one journal record. A modem that sends bytes but never
// answers (its script runs, a wrong speed, a broken modem) gets a record too:
// at the answer limit after its first byte, or when it leaves first. So does a
// port that does not open. The port stays open after a verdict and the check
// goes on, so that a modem swapped behind an adapter that stays plugged in is
// found by its answers; a port that gives no byte for a while has no modem.
// Every close asks the worker and waits for signal_portClosed, never blocking.
class SocketRun : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Empty,   // no modem plugged in
        Opening, // the port is being opened
        Waiting, // the presence check runs: "Ждём модем"
        Identifying,
        Running,
        Done,       // the job has ended; waiting for the modem to go
        OpenFailed, // waiting for the modem to go
        Closing
    };

    SocketRun(int number, OperationType job, const QString &jobName, const Timing &timing,
              QObject *parent = nullptr);

    // Where the settings file comes from; content, when given, is what is sent.
    void setSettingsSource(const QString &fileName, const std::optional<SmallFile> &content);
    // How long after its first byte a modem that does not answer gets its verdict; 0: never.
    void setAnswerWithinMs(int ms);
    // How long a port gives no byte before its modem counts as gone; 0: never.
    void setGoneAfterMs(int ms);
    // A modem back in the socket after it left is prepared again, even after a success.
    void setAgain(bool again) { mMemory.setAgain(again); }
    // The operator's "prepare this modem again": the modem in the socket gets a
    // fresh job now, whatever the socket remembers of it. False when there is none.
    bool prepareAgain();
    bool canPrepareAgain() const;
    // Out of service: the port closes, no job starts here until re-enabled;
    // the reason is the socket's record and its verdict.
    void takeOutOfService(const QString &reason);
    void returnToService();
    bool outOfService() const { return !mOutOfService.isEmpty(); }
    void plug(const PortEntry &port);
    // The modem's port has gone: a running job ends as "модем отключён".
    void unplug();
    // No new job may start here: a socket without a running job closes.
    void stopAccepting();
    // Stops at once: a running job ends as "прервано".
    void stopNow();
    // While held, a modem whose IMEI has been read waits before its job starts;
    // releasing starts it. The watch holds jobs until every journal line
    // before them has reached the disk, so that none starts unrecorded.
    void holdJobs(bool hold);
    // Every job waits for its own settings: signal_settingsWanted asks for
    // them, giveSettings() or refuseJob() answers.
    void setProvisioned(bool provisioned) { mProvisioned = provisioned; }
    // The settings of the job of the modem with this IMEI, from a
    // provisioning table's row: the job starts. Another modem's are ignored.
    void giveSettings(const QString &imei, const SmallFile &content, int row);
    // No settings for the modem with this IMEI: it gets no job, the text is its verdict.
    void refuseJob(const QString &imei, const QString &text);
    // Why the modem still waits for its settings (the server does not answer),
    // for its tile; the grant or the refusal ends it, and so does the modem leaving.
    void setWaitingText(const QString &imei, const QString &text);
    QString waitingText() const { return mSettingsAsked ? mWaitingText : QString(); }
    // A warning about this modem that its journal line's text carries.
    void addNote(const QString &note) { mNotes << note; }

    int number() const { return mNumber; }
    // Another number for this socket, from the next signal and record on.
    void setNumber(int number) { mNumber = number; }
    State state() const { return mState; }
    QString stateText() const;
    const PortEntry &port() const { return mPort; }
    QString imei() const { return mImei; }
    // The verdict on the modem in the socket, empty while it has none.
    QString verdict() const { return mVerdict; }
    // The modem in the socket was prepared successfully here already.
    bool flashedHere() const { return mFlashedHere; }
    int progress() const { return mProgress; }     // percent of the job, by its steps
    int stepNumber() const { return mStepNumber; } // 1 to stepCount() while the job runs
    static int stepCount();
    // The bytes of the file being written now, as the port took them.
    qint64 bytesSent() const { return mBytesSent; }
    qint64 bytesTotal() const { return mBytesTotal; }
    QString bytesFile() const { return mBytesFile; } // empty between files
    QString step() const { return mStep; }
    // Open, or about to be opened or closed: the watch cannot end yet.
    bool busy() const;
    bool jobRunning() const { return mState == State::Running; }

signals:
    void signal_changed(int number);
    void signal_event(int number, QString port, QString text);
    // The modem's IMEI, empty when it gave none.
    void signal_identified(int number, QString imei);
    // A provisioned socket's job is ready but for its settings.
    void signal_settingsWanted(int number, QString imei);
    void signal_jobEnded(JournalRecord record);
    // The session's own time-stamped log line, as the window shows it.
    void signal_logLine(int number, QString line);
    // A job failed: its modem may have been pulled, which the ports show.
    void signal_pullSuspected(int number);

private slots:
    void slot_mSession_signal_portOpened();
    void slot_mSession_signal_portOpenFailed();
    void slot_mSession_signal_portClosed();
    void slot_mSession_signal_presence(bool connected);
    void slot_mSession_signal_queryAnswered(const QByteArray &answer);
    void slot_mSession_signal_commandSent(const QByteArray &command);
    void slot_mSession_signal_fileStarted(const QString &name, qint64 size);
    void slot_mSession_signal_progress(int step);
    void slot_mSession_signal_bytesSent(qint64 sent, qint64 total);
    void slot_mSession_signal_jobEnded(OperationType job, bool success, const QString &text);
    void slot_mTimerPullGrace_timeout();
    void slot_mSession_signal_received(const QByteArray &data);
    void slot_mTimerAnswerWithin_timeout();
    void slot_mTimerSilence_timeout();

private:
    void setState(State state);
    void open();
    void resetModem();
    void startWhenReady();
    void beginJob();
    void afterJob();
    void listenForSilence();
    void identify();
    void takeTurn(const QString &imei, bool recheck);
    void keepListening();
    void close(State after);
    bool closeIfOpen();
    void endJob(JournalRecord::Result result, const QString &text);
    // The record of a modem that had no job: its result, and what it did instead.
    void recordWithoutJob(JournalRecord::Result result, const QString &text);
    JournalRecord recordHere(JournalRecord::Result result) const;
    // A modem that sent bytes but did not answer: its record, if it has none yet.
    void recordSilentModem();
    static QString shownBytes(const QByteArray &bytes);
    QString failureDetail() const;
    void announce(const QString &text);

    ModemSession mSession;
    int mNumber;
    OperationType mJob;
    QString mJobName;
    PortEntry mPort;
    std::optional<PortEntry> mNextPort; // plugged in while the last one was closing
    State mState = State::Empty;
    State mAfterClose = State::Empty;
    bool mAccepting = true;
    QString mImei;
    bool mIdentified = false; // the IMEI query has been answered
    bool mJobHeld = false;
    QString mStep;
    QString mSettingsFile;
    std::optional<SmallFile> mSettingsContent;
    bool mProvisioned = false;
    bool mSettingsAsked = false;
    QString mWaitingText; // why the settings asked for are not here yet   // signal_settingsWanted
                          // is unanswered
    bool mSettingsGranted = false; // for the next job
    int mTableRow = 0;             // of the running job's settings
    QStringList mFileHashes;
    int mProgress = 0;
    int mStepNumber = 0;
    qint64 mBytesSent = 0;
    qint64 mBytesTotal = 0;
    QString mBytesFile;
    QElapsedTimer mJobClock;
    // A pulled modem fails its job before the port list shows it gone; a
    // failure is recorded only once the list has had time to tell: the grace
    // is longer than a poll interval, a confirming listing and the time both
    // listings take on a slow machine.
    QTimer *mTimerPullGrace;
    QString mFailureText;
    QString mVerdict;   // of the last job, until the next modem
    QStringList mNotes; // of this modem, for its record
    // A modem that talks but does not answer: its first bytes, the version
    // its script prints, and the limit after which its record is written.
    QByteArray mHeard;
    QString mScriptVersion;
    QTimer *mTimerAnswerWithin;
    // No byte from the port for this long: the modem has gone.
    QTimer *mTimerSilence;
    SocketMemory mMemory;
    // The IMEI asked since the modem began answering; a check without an
    // answer ends that, so a swapped modem is asked again.
    bool mAskedSinceAnswering = false;
    bool mRechecking = false; // the IMEI asked while the socket shows its verdict
    bool mFlashedHere = false;
    QString mOutOfService; // why no job starts here; empty in service
};
