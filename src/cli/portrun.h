#pragma once

#include "session/modemsession.h"
#include "session/operationtype.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

class QTimer;

// How one port's job ended, for the table and the JSON record.
struct PortResult
{
    QString port;
    QString job;
    bool ok = false;
    bool interrupted = false;
    double seconds = 0;
    QString text;
    QString file; // where read settings stores the modem's settings
    QString imei; // asked only with a provisioning table
    int tableRow = 0;
    QStringList log;
};

// One port's whole run on its own session: open, wait for the presence check
// to count the modem connected, run the job, close. Nothing waits for an
// operator: the job's end is the run's end.
class PortRun : public QObject
{
    Q_OBJECT

public:
    PortRun(const QString &port, OperationType job, const QString &jobName, const Timing &timing,
            QObject *parent = nullptr);

    void setSettingsContent(const SmallFile &content) { mSession.setSettingsContent(content); }
    void setReadTarget(const QString &fileName);
    // The modem is asked for its IMEI first, and its job waits for its own
    // settings: signal_settingsWanted asks, giveSettings() or refuseJob() answers.
    void setProvisioned(bool provisioned) { mProvisioned = provisioned; }
    void giveSettings(const SmallFile &content, int row);
    void refuseJob(const QString &text);
    void start(int connectTimeoutS);
    // An interruption in two halves, so that many ports stop at once.
    void requestStop();
    void finishStop();

    bool finished() const { return mFinished; }
    const PortResult &result() const { return mResult; }
    // Where the run stands: waiting for the modem, the step, the bytes of a file.
    QString progressText() const;

signals:
    void signal_logLine(QString port, QString line);
    void signal_progressChanged();
    void signal_finished();
    void signal_settingsWanted(QString imei);

private slots:
    void slot_mSession_signal_presence(bool connected);
    void slot_mSession_signal_commandSent(const QByteArray &command);
    void slot_mSession_signal_fileStarted(const QString &name, qint64 size);
    void slot_mSession_signal_jobEnded(OperationType job, bool success, const QString &text);
    void slot_mTimerConnect_timeout();

private:
    void startJob();
    void finish(bool ok, const QString &text);
    void complete();
    qint64 bytesOnLine() const;
    void showHandOver(const QString &what, bool file, qint64 size);

    ModemSession mSession;
    QTimer *mTimerConnect;
    QElapsedTimer mClock;
    OperationType mJob;
    PortResult mResult;
    bool mJobStarted = false;
    bool mProvisioned = false;
    bool mSettingsAsked = false;
    bool mEnding = false; // the result is known, the port is closing
    bool mFinished = false;
    int mStep = -1;
    QString mCommand; // the last command without its "\r", or the file being sent
    bool mSendingFile = false;
    qint64 mSent = 0;
    qint64 mTotal = 0;
    QElapsedTimer mSinceHandOver;
};
