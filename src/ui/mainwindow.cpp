#include "mainwindow.h"

#include "protocol/jobsteps.h"
#include "protocol/modemfiles.h"
#include "protocol/modemtext.h"
#include "protocol/tooltexts.h"
#include "settings/portsetting.h"
#include "settings/widgetsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {
const char portSettingFile[] = "setting";
constexpr int baseSpacing = 10;

QString textOpen()
{
    return ToolText::openPortButton();
}
QString textClose()
{
    return ToolText::closePortButton();
}
} // namespace

MainWindow::MainWindow(QWidget *parent) : MainWindow(&MainWindow::systemPorts, Timing(), parent) {}

MainWindow::MainWindow(PortLister portLister, const Timing &timing, QWidget *parent)
    : QMainWindow(parent), mPortLister(std::move(portLister)), mSession(timing)
{
    setWindowTitle(QStringLiteral("Flash ЛОРТА-МОДЕМ"));
    setFixedSize(600, 400);
    setWindowTitle(windowTitle() + QStringLiteral(" v1.08 08.09.2021"));
    setCentralWidget(buildUi());
    connectSession();
}

void MainWindow::connectSession()
{
    connect(&mSession, &ModemSession::signal_logLine, this,
            [this](const QString &line) { mLogPane.append(line); });
    connect(&mSession, &ModemSession::signal_portOpened, this,
            &MainWindow::slot_mSession_signal_portOpened);
    connect(&mSession, &ModemSession::signal_portClosed, this,
            &MainWindow::slot_mSession_signal_portClosed);
    connect(&mSession, &ModemSession::signal_presence, this, &MainWindow::setJobButtonsEnabled);
    connect(&mSession, &ModemSession::signal_jobStarted, this,
            &MainWindow::slot_mSession_signal_jobStarted);
    connect(&mSession, &ModemSession::signal_progress, mProgress, &QProgressBar::setValue);
    connect(&mSession, &ModemSession::signal_jobEnded, this,
            &MainWindow::slot_mSession_signal_jobEnded);
    connect(mCheckMode, &QCheckBox::toggled, &mSession, &ModemSession::setPresenceCheckEnabled);
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

    layout->addWidget(buildJobRow());

    mButtonClear = new QPushButton(ToolText::clearButton());
    layout->addWidget(mButtonClear);
    mButtonClear->hide();
    mButtonClear->setEnabled(false);
    connect(mButtonClear, &QPushButton::clicked, this,
            [this] { mSession.startJob(OperationType::Clear); });

    mProgress = new QProgressBar;
    mProgress->setAlignment(Qt::AlignCenter);
    layout->addWidget(mProgress);
    mProgress->setRange(0, JobStep::Last);
    mProgress->hide();

    mTextLog = new QTextBrowser;
    layout->addWidget(mTextLog);
    mLogPane = LogPane(mTextLog);
    return central;
}

QWidget *MainWindow::buildJobRow()
{
    mButtonSettings = new QPushButton(ToolText::settingsButton());
    connect(mButtonSettings, &QPushButton::clicked, this,
            [] { openSettingsDialog(ModemFiles::settings()); });
    mButtonRead = new QPushButton(ToolText::readButton());
    mButtonLoad = new QPushButton(ToolText::loadButton());
    mButtonFlash = new QPushButton(ToolText::flashButton());
    const QList<QPair<QPushButton *, OperationType>> jobs{
        {mButtonRead, OperationType::ReadSettings},
        {mButtonLoad, OperationType::LoadSettings},
        {mButtonFlash, OperationType::Flash}};
    for (const auto &job : jobs) {
        job.first->setEnabled(false);
        connect(job.first, &QPushButton::clicked, this,
                [this, kind = job.second] { mSession.startJob(kind); });
    }

    auto *jobRow = new QWidget;
    auto *jobLayout = new QHBoxLayout(jobRow);
    jobLayout->setContentsMargins(0, 0, 0, 0);
    jobLayout->setSpacing(baseSpacing);
    jobLayout->addWidget(mButtonSettings);
    for (const auto &job : jobs)
        jobLayout->addWidget(job.first);
    return jobRow;
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
    const int stored =
        mComboPort->findText(readPortSetting(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (stored >= 0)
        mComboPort->setCurrentIndex(stored);
    // Connected only now, so filling and restoring never rewrite the file.
    connect(mComboPort, &QComboBox::currentTextChanged, this, &MainWindow::writePortSetting);

    auto *refresh = new QPushButton(QStringLiteral("Обновить список\nкомпортов"));
    row->addWidget(refresh);
    connect(refresh, &QPushButton::clicked, this, &MainWindow::fillPortList);

    mComboBaud = new QComboBox;
    row->addWidget(mComboBaud);
    for (int baud : ModemLine::speeds())
        mComboBaud->addItem(QString::number(baud), baud);
    mComboBaud->setCurrentIndex(mComboBaud->findData(ModemLine::baudRate));
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
        mSession.openPort(mComboPort->currentText(), baud);
    } else if (mButtonOpen->text() == textClose()) {
        mSession.closePort();
    }
}

void MainWindow::slot_mSession_signal_portOpened()
{
    mButtonOpen->setText(textClose());
    mWidgetPort->setEnabled(false);
    mButtonSettings->setEnabled(false);
}

void MainWindow::slot_mSession_signal_portClosed()
{
    mButtonOpen->setText(textOpen());
    mWidgetPort->setEnabled(true);
    mButtonSettings->setEnabled(true);
    setJobButtonsEnabled(false);
    mProgress->hide();
}

void MainWindow::slot_mSession_signal_jobStarted(OperationType job)
{
    // The session reports steps for the write jobs only: a bar for the clear job would stand still.
    if (job == OperationType::Clear)
        return;
    mProgress->setValue(0);
    setJobButtonsEnabled(false);
    mProgress->show();
}

// The box (or, after a read, the dialog) comes before the presence check
// resumes; the session sends nothing meanwhile.
void MainWindow::slot_mSession_signal_jobEnded(OperationType job, bool success, const QString &text)
{
    if (job == OperationType::ReadSettings && success)
        openSettingsDialog(mSession.readTarget());
    else if (success)
        QMessageBox::information(this, ToolText::successTitle(), text);
    else
        QMessageBox::critical(this, ToolText::failureTitle(), text);
    mProgress->hide();
    mSession.resumePresenceCheck();
}

void MainWindow::setJobButtonsEnabled(bool enabled)
{
    for (QPushButton *button : {mButtonRead, mButtonLoad, mButtonFlash, mButtonClear})
        button->setEnabled(enabled);
}
