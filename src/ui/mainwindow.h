#pragma once

#include "log/logpane.h"
#include "session/modemsession.h"
#include "session/operationtype.h"

#include <QMainWindow>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QProgressBar;
class QPushButton;
class QTextBrowser;

// The tool's only window: a view over one modem session. It builds the
// controls, forwards clicks to the session, shows its log lines, and asks the
// operator where the session waits for an answer (the box at a job's end, the
// settings dialog after a read).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Names of the serial ports to offer, in the order to show them.
    using PortLister = std::function<QStringList()>;

    explicit MainWindow(QWidget *parent = nullptr);
    // For tools and tests that offer other ports than the system's (a
    // pseudo-terminal), and that may run the modem's waits scaled.
    explicit MainWindow(PortLister portLister, const Timing &timing = Timing(),
                        QWidget *parent = nullptr);

    static QStringList systemPorts();

private slots:
    void slot_mSession_signal_portOpened();
    void slot_mSession_signal_portClosed();
    void slot_mSession_signal_jobStarted(OperationType job);
    void slot_mSession_signal_jobEnded(OperationType job, bool success, const QString &text);

private:
    QWidget *buildUi();
    QWidget *buildJobRow();
    QWidget *buildPortRow();
    void connectSession();
    void fillPortList();
    QString readPortSetting();
    void writePortSetting(const QString &text);
    void openOrClosePort();
    void setJobButtonsEnabled(bool enabled);

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
    LogPane mLogPane;
    ModemSession mSession;
};
