#include "mainwindow.h"

#include "operations/jobaction.h"
#include "operations/readsettingsanswer.h"
#include "serial/modemcommands.h"
#include "serial/modemtext.h"
#include "settings/portsetting.h"
#include "settings/settingsfile.h"
#include "settings/widgetsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const char portSettingFile[] = "setting";
const char settingsFile[] = "settings.ini";
constexpr int presenceIntervalMs = 250;
constexpr int startDelayExtraMs = 200;
constexpr int baseSpacing = 10;

QString textOpen()
{
    return QStringLiteral("Открыть COM-порт");
}
QString textClose()
{
    return QStringLiteral("Закрыть COM-порт");
}
} // namespace

MainWindow::MainWindow(QWidget *parent) : MainWindow(&MainWindow::systemPorts, parent) {}

MainWindow::MainWindow(PortLister portLister, QWidget *parent)
    : QMainWindow(parent), mPortLister(std::move(portLister))
{
    setWindowTitle(QStringLiteral("Flash ЛОРТА-МОДЕМ"));
    setFixedSize(600, 400);
    setWindowTitle(windowTitle() + QStringLiteral(" v1.08 08.09.2021"));
    setCentralWidget(buildUi());

    connect(&serial, &SerialPort::signal_openPort_ok, this,
            &MainWindow::slot_serial_signal_openPort_ok, Qt::QueuedConnection);
    connect(&serial, &SerialPort::signal_openPort_error, this,
            &MainWindow::slot_serial_signal_openPort_error, Qt::QueuedConnection);
    connect(&serial, &SerialPort::signal_receivedAnswer, this,
            &MainWindow::slot_serial_signal_receivedAnswer, Qt::QueuedConnection);
    connect(
        &serial, &SerialPort::signal_receivedData, this,
        [this](const QByteArray &data) {
            appendLog(textUpToZero(data), MessageKind::Received);
        },
        Qt::QueuedConnection);

    mTimerSendCheck = new QTimer(this);
    mTimerSendCheck->setInterval(presenceIntervalMs);
    connect(mTimerSendCheck, &QTimer::timeout, this, &MainWindow::slot_mTimerSendCheck_timeout);

    mTimerOperationStart = new QTimer(this);
    mTimerOperationStart->setInterval(mTimerSendCheck->interval() + startDelayExtraMs);
    connect(mTimerOperationStart, &QTimer::timeout, this,
            &MainWindow::slot_mTimerOperationStart_timeout);

    mSender = new CommandSender(
        [this](const QByteArray &command, int wait) { return serial.setRequest(command, wait); },
        this);
    connect(mSender, &CommandSender::signal_handedOver, this, [this](const QByteArray &command) {
        appendLog(textUpToZero(command), MessageKind::Sent);
    });
}

// The worker must have ended before it is destroyed. QThread::wait returns once
// the loop has closed the port, without spinning the GUI thread meanwhile.
MainWindow::~MainWindow()
{
    serial.stopPort();
    serial.wait();
}

QWidget *MainWindow::buildUi()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(baseSpacing, baseSpacing, baseSpacing, baseSpacing);
    layout->setSpacing(baseSpacing);

    layout->addWidget(buildPortRow());

    mButtonOpen = new QPushButton(textOpen());
    layout->addWidget(mButtonOpen);
    connect(mButtonOpen, &QPushButton::clicked, this, &MainWindow::openOrClosePort);

    mCheckMode = new QCheckBox(QStringLiteral("Режим настроки/прошивки ЛОРТА-МОДЕМА"));
    layout->addWidget(mCheckMode);
    mCheckMode->setChecked(true);

    mButtonSettings = new QPushButton(QStringLiteral("Настройки"));
    connect(mButtonSettings, &QPushButton::clicked, this,
            [] { openSettingsDialog(QString::fromLatin1(settingsFile)); });
    mButtonRead = new QPushButton(QStringLiteral("Считать настройки"));
    mButtonRead->setEnabled(false);
    connect(mButtonRead, &QPushButton::clicked, this, [this] {
        startJob(OperationType::ReadSettings, mFileList, QStringLiteral("Чтение настроек запущено"));
    });
    mButtonLoad = new QPushButton(QStringLiteral("Загрузить настройки"));
    mButtonLoad->setEnabled(false);
    connect(mButtonLoad, &QPushButton::clicked, this, [this] {
        startJob(OperationType::LoadSettings, {QString::fromLatin1(settingsFile)},
                 WriteJob::startText(WriteJob::Kind::LoadSettings));
    });
    mButtonFlash = new QPushButton(QStringLiteral("Прошить"));
    mButtonFlash->setEnabled(false);
    connect(mButtonFlash, &QPushButton::clicked, this, [this] {
        startJob(OperationType::Flash, {QStringLiteral("main.pyo"), QStringLiteral("config.pyo")},
                 WriteJob::startText(WriteJob::Kind::Flash));
    });

    auto *operationRow = new QWidget;
    layout->addWidget(operationRow);
    auto *operationLayout = new QHBoxLayout(operationRow);
    operationLayout->setContentsMargins(0, 0, 0, 0);
    operationLayout->setSpacing(baseSpacing);
    operationLayout->addWidget(mButtonSettings);
    operationLayout->addWidget(mButtonRead);
    operationLayout->addWidget(mButtonLoad);
    operationLayout->addWidget(mButtonFlash);

    mButtonClear = new QPushButton(QStringLiteral("Очистить модем"));
    layout->addWidget(mButtonClear);
    mButtonClear->hide();
    mButtonClear->setEnabled(false);
    connect(mButtonClear, &QPushButton::clicked, this,
            [this] { startOperation(OperationType::Clear); });

    mProgress = new QProgressBar;
    mProgress->setAlignment(Qt::AlignCenter);
    layout->addWidget(mProgress);
    mProgress->setRange(0, 9);
    mProgress->hide();

    mTextLog = new QTextBrowser;
    layout->addWidget(mTextLog);
    mLogPane = LogPane(mTextLog);
    return central;
}

QWidget *MainWindow::buildPortRow()
{
    mWidgetPort = new QWidget;
    auto *row = new QHBoxLayout(mWidgetPort);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(baseSpacing);

    row->addWidget(new QLabel(QStringLiteral("Выберите компорт: ")));

    mComboPort = new QComboBox;
    row->addWidget(mComboPort);
    fillPortList();
    const int stored = mComboPort->findText(readPortSetting(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (stored >= 0)
        mComboPort->setCurrentIndex(stored);
    // Connected only now, so filling and restoring never rewrite the file.
    connect(mComboPort, &QComboBox::currentTextChanged, this, &MainWindow::writePortSetting);

    auto *refresh = new QPushButton(QStringLiteral("Обновить список\nкомпортов"));
    row->addWidget(refresh);
    connect(refresh, &QPushButton::clicked, this, &MainWindow::fillPortList);

    mComboBaud = new QComboBox;
    row->addWidget(mComboBaud);
    for (int baud : {4800, 9600, 19200, 38400, 57600, 115200})
        mComboBaud->addItem(QString::number(baud), baud);
    mComboBaud->setCurrentIndex(mComboBaud->findData(9600));
    mComboBaud->hide();
    return mWidgetPort;
}

QStringList MainWindow::systemPorts()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        names << port.portName();
    return names;
}

void MainWindow::fillPortList()
{
    mComboPort->clear();
    const QStringList names = mPortLister();
    for (const QString &name : names)
        mComboPort->addItem(name);
}

QString MainWindow::readPortSetting()
{
    return ::readPortSetting(QString::fromLatin1(portSettingFile));
}

void MainWindow::writePortSetting(const QString &text)
{
    ::writePortSetting(QString::fromLatin1(portSettingFile), text);
}

void MainWindow::openOrClosePort()
{
    if (mButtonOpen->text() == textOpen()) {
        const int baud = mComboBaud->currentData(Qt::UserRole).toInt();
        serial.setPortSettings(mComboPort->currentText(), baud);
        serial.startPort();
    } else if (mButtonOpen->text() == textClose()) {
        closePort();
    }
}

void MainWindow::closePort()
{
    startOperation(OperationType::None);
    serial.stopPort();
    // Returns once the loop has ended and closed the port; no polling loop.
    serial.wait();
    appendLog(QStringLiteral("Порт закрыт"), MessageKind::Status);
    mButtonOpen->setText(textOpen());
    mWidgetPort->setEnabled(true);
    mButtonSettings->setEnabled(true);
    setOperationButtonsEnabled(false);
    mProgress->hide();
}

void MainWindow::slot_serial_signal_openPort_ok()
{
    appendLog(QStringLiteral("Порт открыт"), MessageKind::Status);
    mButtonOpen->setText(textClose());
    mWidgetPort->setEnabled(false);
    mButtonSettings->setEnabled(false);
    // A new port, maybe a new device: it has to answer five times in a row again.
    mPresence.reset();
    mSender->resetSession();
    startOperation(OperationType::PresenceCheck);
}

void MainWindow::slot_serial_signal_openPort_error()
{
    appendLog(QStringLiteral("Ошибка при открытии порта"), MessageKind::Status);
}

void MainWindow::sendCommand(const QByteArray &command, int wait)
{
    mSender->send(command, wait == 0 ? ModemCommands::defaultWait : wait,
                  CommandSender::Delivery::Guaranteed);
}

void MainWindow::startOperation(OperationType operation)
{
    mOperation = OperationType::None;
    mPendingOperation = operation;
    mTimerSendCheck->stop();
    mSender->cancel();
    if (operation == OperationType::None) {
        // Nothing may reach the modem once the operator closed the port.
        mTimerOperationStart->stop();
        return;
    }
    switch (operation) {
    case OperationType::PresenceCheck:
        mCurrentCommand = ModemCommands::echoOff();
        mProgress->hide();
        break;
    case OperationType::ReadSettings:
        mCurrentCommand = ModemCommands::readSettings();
        break;
    case OperationType::LoadSettings:
        mCurrentCommand = ModemCommands::unselectScript();
        mWriteJob.start(WriteJob::Kind::LoadSettings, mFileList);
        break;
    case OperationType::Flash:
        mCurrentCommand = ModemCommands::unselectScript();
        mWriteJob.start(WriteJob::Kind::Flash, mFileList);
        break;
    case OperationType::Clear:
        mCurrentCommand = ModemCommands::unselectScript();
        mClearJob.start();
        break;
    case OperationType::None:
        break;
    }
    mTimerOperationStart->start();
}

void MainWindow::slot_mTimerOperationStart_timeout()
{
    mTimerOperationStart->stop();
    mOperation = mPendingOperation;
    mSender->beginOperation();
    sendCommand(mCurrentCommand,
                mOperation == OperationType::ReadSettings ? ModemCommands::readWait : 0);
    if (mOperation == OperationType::PresenceCheck)
        mTimerSendCheck->start();
}

void MainWindow::slot_mTimerSendCheck_timeout()
{
    if (!mCheckMode->isChecked())
        return;
    // A refused presence command is not retried: the next tick sends a fresh one.
    mSender->send(ModemCommands::echoOff(), ModemCommands::defaultWait,
                  CommandSender::Delivery::Droppable);
}

void MainWindow::slot_serial_signal_receivedAnswer(QByteArray data)
{
    const bool current = mSender->takeAnswer();
    if (mOperation == OperationType::None || portClosed() || !current)
        return;
    const bool hasOk = data.contains(ModemCommands::ok());
    if (mOperation == OperationType::PresenceCheck) {
        mPresence.count(hasOk);
        setOperationButtonsEnabled(mPresence.connected());
    } else {
        mPresence.reset();
    }
    appendLog(textUpToZero(data), MessageKind::Received);

    switch (mOperation) {
    case OperationType::ReadSettings:
        handleReadSettingsAnswer(data);
        break;
    case OperationType::LoadSettings:
    case OperationType::Flash:
        mProgress->setValue(mWriteJob.step());
        carryOut(mWriteJob.onAnswer(data));
        break;
    case OperationType::Clear:
        carryOut(mClearJob.onAnswer(data));
        break;
    case OperationType::None:
    case OperationType::PresenceCheck:
        break;
    }
}

void MainWindow::startJob(OperationType operation, const QStringList &fileList,
                          const QString &startText)
{
    mFileList = fileList;
    mProgress->setValue(0);
    startOperation(operation);
    setOperationButtonsEnabled(false);
    mProgress->show();
    appendLog(startText, MessageKind::Status);
}

void MainWindow::handleReadSettingsAnswer(const QByteArray &data)
{
    const std::optional<QStringList> lines = parseReadSettingsAnswer(data);
    if (!lines) {
        endJob(false, QStringLiteral("Ошибка чтения настроек"), true);
        return;
    }
    mOperation = OperationType::None;
    const QString fileName = QString::fromLatin1(settingsFile);
    if (!writeLinesToFile(fileName, *lines)) {
        // The modem's settings could not be stored: saying "read" would be a lie.
        endJob(false,
               QStringLiteral("Не удалось открыть файл ") + fileName +
                   QStringLiteral(" и сохранить настройки"),
               true);
        return;
    }
    appendLog(QStringLiteral("Настройки модема считаны"), MessageKind::Status);
    openSettingsDialog(fileName);
    startOperation(OperationType::PresenceCheck);
}

void MainWindow::carryOut(const JobAction &action)
{
    if (action.kind == JobAction::Kind::Send)
        sendCommand(action.command, action.wait);
    else
        endJob(action.kind == JobAction::Kind::Succeed, action.text, action.logText);
}

// The box comes before the presence check resumes; no answer may advance the
// ended job while the box is open.
void MainWindow::endJob(bool success, const QString &text, bool logText)
{
    mOperation = OperationType::None;
    if (logText)
        appendLog(text, MessageKind::Status);
    if (success)
        QMessageBox::information(this, QStringLiteral("Сообщение"), text);
    else
        QMessageBox::critical(this, QStringLiteral("Ошибка"), text);
    startOperation(OperationType::PresenceCheck);
}

void MainWindow::appendLog(const QString &text, MessageKind kind)
{
    if (!mLogPane.exists())
        return;
    const QString line = mLogComposer.compose(
        QDateTime::currentDateTime(), text, kind,
        mOperation == OperationType::PresenceCheck, mPresence.value(), mLogPane.lastLine());
    if (!line.isEmpty())
        mLogPane.append(line);
}

void MainWindow::setOperationButtonsEnabled(bool enabled)
{
    for (QPushButton *button : {mButtonRead, mButtonLoad, mButtonFlash, mButtonClear})
        button->setEnabled(enabled);
}

bool MainWindow::portClosed() const
{
    return mButtonOpen->text() == textOpen();
}
