#pragma once

#include "log/logcomposer.h"
#include "log/logpane.h"
#include "operations/clearjob.h"
#include "operations/writejob.h"
#include "serial/commandsender.h"
#include "serial/operationtype.h"
#include "serial/presencecounter.h"
#include "serial/serialport.h"

#include <QMainWindow>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QProgressBar;
class QPushButton;
class QTextBrowser;
class QTimer;
struct JobAction;

// The tool's only window: a thin shell that builds the controls, hands
// commands to the serial worker and carries out what the jobs decide.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Names of the serial ports to offer, in the order to show them.
    using PortLister = std::function<QStringList()>;

    explicit MainWindow(QWidget *parent = nullptr);
    // For tools and tests that offer other ports than the system's (a pseudo-terminal).
    explicit MainWindow(PortLister portLister, QWidget *parent = nullptr);
    ~MainWindow() override;

    static QStringList systemPorts();

private slots:
    void slot_mTimerSendCheck_timeout();
    void slot_serial_signal_openPort_ok();
    void slot_serial_signal_openPort_error();
    void slot_serial_signal_receivedAnswer(QByteArray data);

private:
    QWidget *buildUi();
    QWidget *buildPortRow();
    void fillPortList();
    QString readPortSetting();
    void writePortSetting(const QString &text);
    void openOrClosePort();
    void closePort();

    void sendCommand(const QByteArray &command, int wait);
    void startOperation(OperationType operation);
    void slot_mTimerOperationStart_timeout();
    void appendLog(const QString &text, MessageKind kind);

    void startJob(OperationType operation, const QStringList &fileList, const QString &startText);
    void handleReadSettingsAnswer(const QByteArray &data);
    void carryOut(const JobAction &action);
    void endJob(bool success, const QString &text, bool logText);
    void setOperationButtonsEnabled(bool enabled);
    bool portClosed() const;

    PortLister mPortLister;
    QWidget *mWidgetPort = nullptr;
    QComboBox *mComboPort = nullptr;
    QComboBox *mComboBaud = nullptr;
    QPushButton *mButtonOpen = nullptr;
    QCheckBox *mCheckMode = nullptr;
    QPushButton *mButtonSettings = nullptr;
    QPushButton *mButtonRead = nullptr;
    QPushButton *mButtonLoad = nullptr;
    QPushButton *mButtonFlash = nullptr;
    QPushButton *mButtonClear = nullptr;
    QProgressBar *mProgress = nullptr;
    QTextBrowser *mTextLog = nullptr;
    SerialPort serial;
    OperationType mOperation = OperationType::None;
    QTimer *mTimerSendCheck = nullptr;
    QStringList mFileList;

    // Start of an operation: the last requested one sends its first command
    // when the start timer fires.
    OperationType mPendingOperation = OperationType::None;
    QByteArray mCurrentCommand;
    QTimer *mTimerOperationStart = nullptr;

    PresenceCounter mPresence;
    CommandSender *mSender = nullptr;
    LogComposer mLogComposer;
    LogPane mLogPane;
    WriteJob mWriteJob;
    ClearJob mClearJob;
};
