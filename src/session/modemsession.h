#pragma once

#include "log/logcomposer.h"
#include "operations/clearjob.h"
#include "operations/writejob.h"
#include "protocol/timing.h"
#include "serial/serialport.h"
#include "session/operationtype.h"
#include "session/presencecounter.h"

#include <QObject>
#include <QStringList>

class CommandSender;
class QTimer;
struct JobAction;

// One modem on one serial port, without widgets: opens and closes the port,
// runs the presence check and one job at a time, and says what happened by
// signals. Where the operator must answer before the modem is asked again (the
// box at a job's end, the settings dialog after a read), the session waits:
// after signal_jobEnded nothing is sent until the front end calls
// resumePresenceCheck() or closes the port.
class ModemSession : public QObject
{
    Q_OBJECT

public:
    // Every wait comes from timing: the product's, or a scaled one in a test.
    explicit ModemSession(const Timing &timing, QObject *parent = nullptr);
    // Stops the worker and waits for it, so the port is closed on return.
    ~ModemSession() override;

    // The local settings file that load and flash write into the modem.
    void setSettingsSource(const QString &fileName);
    // The settings as read and checked once: load and flash send exactly these.
    void setSettingsContent(const SmallFile &content);
    // This modem's own settings (a provisioning table's row): load sends them,
    // and flash replaces the modem's settings file with them whatever it held.
    void setOwnSettings(const SmallFile &content);
    // Where read settings stores the modem's file.
    void setReadTarget(const QString &fileName);
    QString readTarget() const { return mReadTarget; }

    // Opening reports by signal_portOpened or signal_portOpenFailed.
    void openPort(const QString &name, int baud);
    // Abandons a running job and closes the port; returns once it is closed.
    void closePort();
    // The two halves of closePort(), for a front end that must not block: ask
    // the worker to stop; signal_portClosed follows once it has closed the port,
    // or at once after finishClose(), which waits for that.
    void requestClose();
    void finishClose();
    bool isPortOpen() const { return mPortOpen; }
    // After signal_portOpenFailed: whether another program holds the device.
    bool isPortHeldElsewhere() { return serial.isHeldElsewhere(); }

    // Unchecked, the periodic presence command is not sent.
    void setPresenceCheckEnabled(bool enabled) { mPresenceCheckEnabled = enabled; }
    // ReadSettings, LoadSettings, Flash or Clear; the first command goes out
    // after the start delay.
    void startJob(OperationType job);
    void resumePresenceCheck();
    // Stops the presence check and sends one command with its answer wait; the
    // answer comes back by signal_queryAnswered. For the production line's IMEI
    // query between the presence check and the job; the window never calls it.
    void sendQuery(const QByteArray &command, Timing::Ms wait);
    const Timing &timing() const { return mTiming; }
    // The job's last command's answer wait and what came within it: what a
    // failed job's record says of the modem.
    int lastWaitMs() const { return mLastWaitMs; }
    QByteArray lastAnswer() const { return mLastAnswer; }
    // Whether the worker found the device gone since the port was opened: a
    // job that failed meanwhile lost its modem, whatever the answer said.
    bool lineLost() const { return mLineLost; }

signals:
    // A finished log line, time stamp included, and the kind of message it shows.
    void signal_logLine(QString line, MessageKind kind);
    void signal_portOpened();
    void signal_portOpenFailed();
    void signal_portClosed();
    // After every answer to the presence check: whether the modem counts as connected.
    void signal_presence(bool connected);
    void signal_jobStarted(OperationType job);
    // The write job's step (a JobStep) before each of its answers is handled.
    void signal_progress(int step);
    // Every command handed to the worker; a file's bytes come as signal_fileStarted.
    void signal_commandSent(QByteArray command);
    // A file's bytes were handed to the worker: its name and size.
    void signal_fileStarted(QString name, qint64 size);
    // Bytes of the command or file in flight that have gone to the driver.
    void signal_bytesSent(qint64 sent, qint64 total);
    // The job is over; logged tells whether the text went to the log. The
    // session then waits for resumePresenceCheck() (or a close).
    void signal_jobEnded(OperationType job, bool success, QString text, bool logged);
    // The answer to sendQuery(), possibly empty.
    void signal_queryAnswered(QByteArray answer);
    // Every byte the modem sent while the port was open, answers and unasked
    // bytes alike, as it came: the production line tells a silent port from a
    // talking one by it.
    void signal_received(QByteArray data);

private slots:
    void slot_mTimerSendCheck_timeout();
    void slot_mTimerOperationStart_timeout();
    void slot_serial_signal_openPort_ok();
    void slot_serial_signal_openPort_error();
    void slot_serial_signal_receivedAnswer(QByteArray data);
    void slot_serial_finished();

private:
    void sendCommand(const QByteArray &command, int waitMs);
    void startOperation(OperationType operation);
    void appendLog(const QString &text, MessageKind kind);
    void handleReadSettingsAnswer(const QByteArray &data);
    void carryOut(const JobAction &action);
    void endJob(bool success, const QString &text, bool logText);

    const Timing mTiming;
    SerialPort serial;
    CommandSender *mSender = nullptr;
    QTimer *mTimerSendCheck = nullptr;
    QTimer *mTimerOperationStart = nullptr;
    OperationType mOperation = OperationType::None;
    // The last requested job sends its first command when the start timer fires.
    OperationType mPendingOperation = OperationType::None;
    QByteArray mCurrentCommand;
    int mLastWaitMs = 0;
    QByteArray mLastAnswer;
    Timing::Ms mCurrentWait{0}; // the first command's answer wait
    QString mFileInFlight;      // the file whose bytes the next hand-over carries
    OperationType mJob = OperationType::None;
    QStringList mFileList;
    PresenceCounter mPresence;
    bool mPresenceCheckEnabled = true;
    bool mPortOpen = false;
    bool mLineLost = false;
    bool mClosing = false;
    bool mQueryPending = false;
    LogComposer mLogComposer;
    QString mLastLine;
    QString mReadTarget;
    WriteJob mWriteJob;
    ClearJob mClearJob;
};
