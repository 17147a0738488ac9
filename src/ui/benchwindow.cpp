#include "benchwindow.h"

#include "counterslabel.h"
#include "exportdialog.h"
#include "fleet/fleetconnection.h"
#include "line/journal.h"
#include "line/provisiontable.h"
#include "line/socketmodel.h"
#include "line/sockettexts.h"
#include "line/watchrun.h"
#include "notelabel.h"
#include "protocol/modemtext.h"
#include "settings/settingscheck.h"
#include "settings/settingsfile.h"
#include "shiftpanel.h"
#include "tileview.h"
#include "unwrittenrecords.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <utility>

namespace {
const QString anyAdapter = QStringLiteral("любой");
const QString noTableText = QStringLiteral("без таблицы: всем модемам файл настроек");
constexpr int preferredWidth = 1480;
constexpr int preferredHeight = 900;
const QString appTitle = QStringLiteral("Flash ЛОРТА-МОДЕМ v1.08");
const QString setupFilter = QStringLiteral("Настройка стенда (*.lorta-bench)");
const QString counterGap = QStringLiteral("    ");

// A phrase the counters' line wraps before or after, never inside.
QString keptTogether(QString text)
{
    return text.replace(QLatin1Char(' '), QChar::Nbsp);
}

QString defaultJournal()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("lorta-journal.csv"));
}

// The last settings file used, else "settings.ini" beside the journal when there is one.
QString defaultSettings(const QString &lastUsed, const QString &journal)
{
    if (!lastUsed.isEmpty())
        return lastUsed;
    const QString beside =
        QFileInfo(journal).absoluteDir().filePath(QStringLiteral("settings.ini"));
    return QFileInfo(beside).isFile() ? beside : QString();
}

QString hexId(quint16 id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}
} // namespace

BenchWindow::BenchWindow(const PortLister &lister, QSettings *store, const Timing &timing,
                         QWidget *parent)
    : QMainWindow(parent), mLister(lister), mTiming(timing), mStore(store),
      mModel(new SocketModel(this)), mTimerCounters(new QTimer(this)),
      mTimerAdapters(new QTimer(this))
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    auto *top = new QWidget(central);
    buildTop(top);
    layout->addWidget(top);

    mLabelCounters = new CountersLabel(central);
    mLabelCounters->setObjectName(QStringLiteral("labelCounters"));
    mLabelProblem = new NoteLabel(central);
    mLabelProblem->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    mLabelProblem->setObjectName(QStringLiteral("labelProblem"));
    mUnwritten = new UnwrittenRecords(central);
    mLabelFleet = new NoteLabel(central);
    mLabelFleet->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    mLabelFleet->setObjectName(QStringLiteral("labelFleet"));
    layout->addWidget(mLabelCounters);
    layout->addWidget(mLabelFleet);
    layout->addWidget(mLabelProblem);
    mLabelSkipped = new NoteLabel(central);
    mLabelSkipped->setObjectName(QStringLiteral("labelSkipped"));
    layout->addWidget(mLabelSkipped);
    layout->addWidget(mUnwritten);

    auto *splitter = new QSplitter(Qt::Vertical, central);
    mViewTiles = new TileView(splitter);
    mViewTiles->setObjectName(QStringLiteral("viewTiles"));
    mViewTiles->setModel(mModel);
    // Below the tiles: the chosen socket's log, and the shift at a glance.
    auto *tabs = new QTabWidget(splitter);
    tabs->setObjectName(QStringLiteral("tabsBelow"));
    // The seldom used file actions beside the tabs, where they take no height from the tiles.
    auto *corner = new QWidget(tabs);
    auto *cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 0, 0, 0);
    mButtonSetup->setParent(corner);
    cornerLayout->addWidget(mButtonSetup);
    cornerLayout->addWidget(buildExportButton(corner));
    tabs->setCornerWidget(corner, Qt::TopRightCorner);
    auto *logBox = new QWidget(tabs);
    auto *logLayout = new QVBoxLayout(logBox);
    logLayout->setContentsMargins(0, 0, 0, 0);
    mLabelLog = new QLabel(QStringLiteral("Нажмите на гнездо, чтобы увидеть его журнал"), logBox);
    // The chosen socket's day can be long: it wraps rather than widen the window.
    mLabelLog->setWordWrap(true);
    mButtonAgain = new QPushButton(QStringLiteral("Прошить снова"), logBox);
    mButtonAgain->setObjectName(QStringLiteral("buttonAgain"));
    mButtonAgain->setToolTip(QStringLiteral("Модем в этом гнезде получит задание ещё раз"));
    mButtonAgain->setEnabled(false);
    mButtonEnable = new QPushButton(QStringLiteral("Включить гнездо"), logBox);
    mButtonEnable->setObjectName(QStringLiteral("buttonEnable"));
    mButtonEnable->setToolTip(
        QStringLiteral("Гнездо снова принимает модемы; сначала проверьте кабель и порт хаба"));
    mButtonEnable->setEnabled(false);
    mButtonNumber = new QPushButton(QStringLiteral("Другой номер…"), logBox);
    mButtonNumber->setObjectName(QStringLiteral("buttonNumber"));
    mButtonNumber->setToolTip(QStringLiteral("Дать гнезду номер с наклейки на порту хаба"));
    mButtonNumber->setEnabled(false);
    auto *logTop = new QHBoxLayout;
    logTop->addWidget(mLabelLog, 1);
    logTop->addWidget(mButtonAgain);
    logTop->addWidget(mButtonEnable);
    logTop->addWidget(mButtonNumber);
    mTextLog = new QPlainTextEdit(logBox);
    mTextLog->setReadOnly(true);
    mTextLog->setMaximumBlockCount(SocketModel::maxLogLines);
    logLayout->addLayout(logTop);
    logLayout->addWidget(mTextLog);
    tabs->addTab(logBox, QStringLiteral("Гнездо"));
    mPanelShift = new ShiftPanel(timing.benchCounters, tabs);
    tabs->addTab(mPanelShift, QStringLiteral("Смена"));
    tabs->addTab(mPageDatabase, QStringLiteral("База данных"));
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    fitIntoScreen();

    connect(mViewTiles, &QListView::clicked, this, &BenchWindow::slot_mViewTiles_clicked);
    connect(mButtonAgain, &QPushButton::clicked, this, [this] {
        if (SocketRun *socket = chosenSocket())
            socket->prepareAgain();
        refreshSocketActions();
    });
    connect(mButtonEnable, &QPushButton::clicked, this, [this] {
        if (const SocketRun *socket = chosenSocket())
            mRun->returnToService(socket->number());
        refreshSocketActions();
    });
    connect(mButtonNumber, &QPushButton::clicked, this, &BenchWindow::askForNumber);
    connect(mModel, &QAbstractItemModel::dataChanged, this, &BenchWindow::refreshSocketActions);
    connect(mModel, &QAbstractItemModel::layoutChanged, this, [this] {
        // The chosen tile keeps being chosen under its new number.
        const QModelIndexList chosen = mViewTiles->selectionModel()->selectedIndexes();
        mLogRow = chosen.isEmpty() ? mLogRow : chosen.first().row();
        refreshSocketActions();
    });
    connect(mModel, &SocketModel::signal_logLineAdded, this, [this](int row, const QString &line) {
        if (row == mLogRow)
            mTextLog->appendPlainText(line);
    });
    connect(mModel, &SocketModel::signal_countersChanged, this, &BenchWindow::refreshCounters);
    connect(mModel, &QAbstractItemModel::modelReset, this, [this] { showLog(-1); });
    mTimerCounters->setInterval(timing.benchCounters);
    connect(mTimerCounters, &QTimer::timeout, this, &BenchWindow::refreshCounters);
    mTimerAdapters->setInterval(timing.benchAdapters);
    connect(mTimerAdapters, &QTimer::timeout, this, &BenchWindow::refreshAdapters);
    mTimerAdapters->start();
    refreshCounters();
    refreshAdapters();
}

void BenchWindow::buildTop(QWidget *top)
{
    auto *grid = new QGridLayout(top);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2); // five rows of controls, the tiles keep the height
    mComboJob = new QComboBox(top);
    mComboJob->addItems({QStringLiteral("Прошить"), QStringLiteral("Загрузить настройки")});
    mEditSettings = new QLineEdit(top);
    mEditSettings->setReadOnly(true);
    mButtonSettings = new QPushButton(QStringLiteral("Выбрать…"), top);
    mLabelSettingsProblem = new NoteLabel(top);
    mLabelSettingsProblem->setStyleSheet(QStringLiteral("color: #c62828;"));
    mEditProvision = new QLineEdit(top);
    mEditProvision->setReadOnly(true);
    mEditProvision->setPlaceholderText(noTableText);
    mEditProvision->setToolTip(
        QStringLiteral("Таблица CSV: каждому модему своя строка настроек поверх файла настроек"));
    mButtonProvision = new QPushButton(QStringLiteral("Выбрать…"), top);
    mButtonNoProvision = new QPushButton(QStringLiteral("Без таблицы"), top);
    mButtonNoProvision->setToolTip(
        QStringLiteral("Не брать таблицу: всем модемам один файл настроек"));
    mComboFilter = new QComboBox(top);
    mComboFilter->setEditable(true);
    mComboFilter->addItem(anyAdapter);
    mComboFilter->setToolTip(QStringLiteral("VID:PID адаптеров, которые можно открывать"));
    mCheckIncludePresent = new QCheckBox(QStringLiteral("Брать и уже подключённые"), top);
    mEditJournal = new QLineEdit(top);
    mButtonJournal = new QPushButton(QStringLiteral("Выбрать…"), top);
    mButtonStart = new QPushButton(QStringLiteral("Начать"), top);
    mButtonStart->setMinimumHeight(48);
    mButtonStart->setStyleSheet(QStringLiteral("font-size: 14pt; font-weight: bold;"));
    mEditBench = new QLineEdit(top);
    mEditBench->setToolTip(
        QStringLiteral("Имя стенда: в заголовке окна и в каждой строке журнала"));
    mCheckStartAtLaunch = new QCheckBox(QStringLiteral("Начинать при запуске"), top);
    mCheckStartAtLaunch->setToolTip(
        QStringLiteral("Стенд начинает работу сам, когда окно открывается"));
    mSpinQuarantine = new QSpinBox(top);
    mSpinQuarantine->setRange(0, BenchSetup::maxQuarantine);
    mSpinQuarantine->setSpecialValueText(QStringLiteral("никогда"));
    mSpinQuarantine->setToolTip(QStringLiteral(
        "Гнездо выводится из работы после стольких отказов подряд на разных модемах; "
        "«никогда» — не выводится"));
    mSpinGoneAfter = new QSpinBox(top);
    mSpinGoneAfter->setRange(0, BenchSetup::maxGoneAfterSeconds);
    mSpinGoneAfter->setSuffix(QStringLiteral(" с"));
    mSpinGoneAfter->setSpecialValueText(QStringLiteral("никогда"));
    mSpinGoneAfter->setToolTip(
        QStringLiteral("Модем считается снятым, когда порт молчит столько секунд: гнездо ждёт "
                       "следующий модем"));
    // The set-up's file actions behind one button: they are seldom used.
    mButtonSetup = new QToolButton(top);
    mButtonSetup->setText(QStringLiteral("Настройка стенда"));
    mButtonSetup->setPopupMode(QToolButton::InstantPopup);
    mButtonSetup->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto *setupMenu = new QMenu(mButtonSetup);
    mActionSetupSave = setupMenu->addAction(QStringLiteral("Сохранить настройку…"));
    mActionSetupSave->setToolTip(
        QStringLiteral("Записать настройку стенда в файл, чтобы открыть её на другом ПК"));
    mActionSetupOpen = setupMenu->addAction(QStringLiteral("Открыть настройку…"));
    mActionSetupOpen->setToolTip(QStringLiteral("Взять настройку стенда из файла"));
    mButtonSetup->setMenu(setupMenu);

    grid->addWidget(new QLabel(QStringLiteral("Задание:"), top), 0, 0);
    grid->addWidget(mComboJob, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Файл настроек:"), top), 0, 2);
    grid->addWidget(mEditSettings, 0, 3);
    grid->addWidget(mButtonSettings, 0, 4);
    grid->addWidget(mButtonStart, 0, 5, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Адаптеры:"), top), 1, 0);
    grid->addWidget(mComboFilter, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Журнал:"), top), 1, 2);
    grid->addWidget(mEditJournal, 1, 3);
    grid->addWidget(mButtonJournal, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("Стенд:"), top), 2, 0);
    grid->addWidget(mEditBench, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Таблица настроек:"), top), 2, 2);
    grid->addWidget(mEditProvision, 2, 3);
    grid->addWidget(mButtonProvision, 2, 4);
    grid->addWidget(mButtonNoProvision, 2, 5, Qt::AlignLeft);
    // The bench's own choices in two rows, each narrow enough for a small screen.
    auto *taking = new QHBoxLayout;
    taking->addWidget(mCheckIncludePresent);
    taking->addSpacing(8);
    taking->addWidget(mCheckStartAtLaunch);
    taking->addStretch(1);
    grid->addLayout(taking, 3, 0, 1, 6);
    auto *limits = new QHBoxLayout;
    limits->addWidget(new QLabel(QStringLiteral("Отказов подряд:"), top));
    limits->addWidget(mSpinQuarantine);
    limits->addSpacing(8);
    limits->addWidget(new QLabel(QStringLiteral("Снят через:"), top));
    limits->addWidget(mSpinGoneAfter);
    limits->addStretch(1);
    grid->addLayout(limits, 4, 0, 1, 6);
    // The floor's server in a tab of its own below the tiles: the top has no
    // room left on a small screen, and the tiles keep their height.
    mPageDatabase = buildDatabasePage(top);
    grid->addWidget(mLabelSettingsProblem, 5, 0, 1, 6);
    grid->setColumnStretch(3, 1);
    // Names for tools and tests that drive the window.
    mComboJob->setObjectName(QStringLiteral("comboJob"));
    mEditSettings->setObjectName(QStringLiteral("editSettings"));
    mComboFilter->setObjectName(QStringLiteral("comboFilter"));
    mEditJournal->setObjectName(QStringLiteral("editJournal"));
    mEditProvision->setObjectName(QStringLiteral("editProvision"));
    mButtonProvision->setObjectName(QStringLiteral("buttonProvision"));
    mButtonNoProvision->setObjectName(QStringLiteral("buttonNoProvision"));
    mButtonStart->setObjectName(QStringLiteral("buttonStart"));
    mEditBench->setObjectName(QStringLiteral("editBench"));
    mCheckStartAtLaunch->setObjectName(QStringLiteral("checkStartAtLaunch"));
    mCheckIncludePresent->setObjectName(QStringLiteral("checkIncludePresent"));
    mSpinQuarantine->setObjectName(QStringLiteral("spinQuarantine"));
    mSpinGoneAfter->setObjectName(QStringLiteral("spinGoneAfter"));
    loadChoices();

    connect(mEditBench, &QLineEdit::textChanged, this, &BenchWindow::refreshTitle);
    connect(mActionSetupSave, &QAction::triggered, this, [this] {
        QString file =
            QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить настройку"), QString(),
                                         setupFilter, nullptr, QFileDialog::DontUseNativeDialog);
        if (file.isEmpty())
            return;
        if (!file.endsWith(QLatin1String(BenchSetup::extension)))
            file += QLatin1String(BenchSetup::extension);
        saveSetup(file);
    });
    connect(mActionSetupOpen, &QAction::triggered, this, [this] {
        const QString file =
            QFileDialog::getOpenFileName(this, QStringLiteral("Открыть настройку"), QString(),
                                         setupFilter, nullptr, QFileDialog::DontUseNativeDialog);
        if (!file.isEmpty())
            openSetup(file);
    });

    connect(mButtonSettings, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(
            this, QStringLiteral("Файл настроек"), mEditSettings->text(),
            QStringLiteral("Настройки (*.ini);;Все файлы (*)"), nullptr,
            QFileDialog::DontUseNativeDialog);
        if (!file.isEmpty())
            setSettingsFile(file);
    });
    connect(mButtonProvision, &QPushButton::clicked, this, [this] {
        const QString shown = mEditProvision->text().isEmpty()
                                  ? QFileInfo(mEditSettings->text()).absolutePath()
                                  : mEditProvision->text();
        const QString file =
            QFileDialog::getOpenFileName(this, QStringLiteral("Таблица настроек"), shown,
                                         QStringLiteral("Таблицы CSV (*.csv);;Все файлы (*)"),
                                         nullptr, QFileDialog::DontUseNativeDialog);
        if (!file.isEmpty())
            setProvisionFile(file);
    });
    connect(mButtonNoProvision, &QPushButton::clicked, this,
            [this] { setProvisionFile(QString()); });
    connect(mButtonCheckDatabase, &QPushButton::clicked, this,
            &BenchWindow::slot_mButtonCheckDatabase_clicked);
    connect(mEditDatabase, &QLineEdit::textEdited, this,
            [this] { setDatabaseNote(QString(), false); }); // the last answer was another server's
    connect(mEditDatabase, &QLineEdit::editingFinished, this, &BenchWindow::checkDatabase);
    connect(mComboTable, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &BenchWindow::slot_mComboTable_currentIndexChanged);
    connect(mButtonJournal, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getSaveFileName(
            this, QStringLiteral("Журнал"), mEditJournal->text(), QStringLiteral("CSV (*.csv)"),
            nullptr, QFileDialog::DontConfirmOverwrite | QFileDialog::DontUseNativeDialog);
        if (!file.isEmpty())
            mEditJournal->setText(QDir::toNativeSeparators(file));
    });
    connect(mButtonStart, &QPushButton::clicked, this, &BenchWindow::slot_mButtonStart_clicked);
}

// The server's conninfo and its check in one row, the table kept there and
// the server's answer in the next.
QWidget *BenchWindow::buildDatabasePage(QWidget *parent)
{
    auto *top = new QWidget(parent);
    mEditDatabase = new QLineEdit(top);
    mEditDatabase->setObjectName(QStringLiteral("editDatabase"));
    mEditDatabase->setPlaceholderText(
        QStringLiteral("postgresql://lorta@сервер/lorta — пусто: только журнал на диске"));
    mEditDatabase->setToolTip(QStringLiteral(
        "Сервер PostgreSQL участка: записи журнала уходят туда же. Пароль сюда не пишут: "
        "его берут из файла .pgpass или переменной PGPASSWORD"));
    mButtonCheckDatabase = new QPushButton(QStringLiteral("Проверить"), top);
    mButtonCheckDatabase->setObjectName(QStringLiteral("buttonCheckDatabase"));
    mButtonCheckDatabase->setToolTip(
        QStringLiteral("Подключиться к базе и прочитать таблицы настроек, которые в ней есть"));
    mLabelDatabase = new QLabel(top);
    mLabelDatabase->setObjectName(QStringLiteral("labelDatabase"));
    mLabelDatabase->setWordWrap(true);
    mComboTable = new QComboBox(top);
    mComboTable->setObjectName(QStringLiteral("comboDatabaseTable"));
    mComboTable->setToolTip(QStringLiteral(
        "Таблица настроек, которая хранится в базе: все стенды участка берут строки из неё"));
    // Room for a name and its rows left; the list itself opens as wide as its names.
    mComboTable->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    mComboTable->setMinimumContentsLength(28);
    mComboTable->addItem(QString(), QString()); // no table on the server
    auto *grid = new QGridLayout(top);
    grid->addWidget(new QLabel(QStringLiteral("База данных:"), top), 0, 0);
    grid->addWidget(mEditDatabase, 0, 1);
    grid->addWidget(mButtonCheckDatabase, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Таблица в базе:"), top), 1, 0);
    // The answer beside the table, where a long reason has the most width to wrap in.
    auto *answer = new QHBoxLayout;
    answer->addWidget(mComboTable);
    answer->addSpacing(8);
    answer->addWidget(mLabelDatabase, 1);
    grid->addLayout(answer, 1, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    return top;
}

// The conninfo is refused before anything is tried when it carries a
// password; otherwise the server is asked on the connection's own thread, and
// the window goes on meanwhile. The schema is made sure of on the way.
void BenchWindow::slot_mButtonCheckDatabase_clicked()
{
    const QString conninfo = mEditDatabase->text().trimmed();
    if (conninfo.isEmpty()) {
        setDatabaseNote(QStringLiteral("База данных не задана"), true);
        return;
    }
    if (!checkDatabase())
        return;
    // The connection is its answer's context: it goes once the answer is in,
    // and an abandoned one's answer never arrives.
    auto *connection = new FleetConnection(conninfo, FleetTiming(), this);
    mConnectionCheck = connection;
    mButtonCheckDatabase->setEnabled(false);
    setDatabaseNote(QStringLiteral("Подключаемся…"), false);
    FleetDesk::listTables(
        connection, connection,
        [this, connection](const QList<FleetDesk::TableInfo> &tables, const QString &error) {
            connection->deleteLater();
            mConnectionCheck = nullptr;
            mButtonCheckDatabase->setEnabled(!running());
            if (!error.isEmpty()) {
                setDatabaseNote(error, true);
                return;
            }
            setDatabaseNote(QStringLiteral("База отвечает"), false);
            showTables(tables);
        });
}

// A conninfo refused as it stands is said at once; the server is not asked.
// False when it is refused.
bool BenchWindow::checkDatabase()
{
    const QString conninfo = mEditDatabase->text().trimmed();
    const QString fault = conninfo.isEmpty() ? QString() : PgLink::conninfoFault(conninfo);
    if (!fault.isEmpty())
        setDatabaseNote(fault, true);
    return fault.isEmpty();
}

void BenchWindow::setDatabaseNote(const QString &text, bool problem)
{
    mLabelDatabase->setStyleSheet(problem ? QStringLiteral("color: #c62828;") : QString());
    mLabelDatabase->setText(text);
    mLabelDatabase->setToolTip(text);
}

// The server's tables with their rows left; the chosen one stays chosen, and
// stays offered even when the server has no table of that name, so that the
// start says so rather than a table being dropped unseen.
void BenchWindow::showTables(const QList<FleetDesk::TableInfo> &tables)
{
    const QString chosen = databaseTable();
    const QSignalBlocker blocker(mComboTable);
    mComboTable->clear();
    mComboTable->addItem(QString(), QString());
    for (const FleetDesk::TableInfo &table : tables)
        mComboTable->addItem(QStringLiteral("%1 — осталось %2 из %3")
                                 .arg(table.name)
                                 .arg(table.left)
                                 .arg(table.rows),
                             table.name);
    setDatabaseTable(chosen);
}

void BenchWindow::setDatabaseTable(const QString &name)
{
    if (!name.isEmpty() && mComboTable->findData(name) < 0)
        mComboTable->addItem(name, name);
    mComboTable->setCurrentIndex(qMax(0, mComboTable->findData(name)));
    showRowSource();
}

QString BenchWindow::databaseTable() const
{
    return mComboTable->currentData().toString();
}

// One source of rows: a table on the server replaces the file table.
void BenchWindow::slot_mComboTable_currentIndexChanged(int index)
{
    if (index > 0 && !mEditProvision->text().isEmpty())
        setProvisionFile(QString());
    showRowSource();
}

// The table on the server is named where the file table would be: the
// operator sees where the rows come from without opening the tab.
void BenchWindow::showRowSource()
{
    const QString table = databaseTable();
    mEditProvision->setPlaceholderText(
        table.isEmpty() ? noTableText : QStringLiteral("таблица «%1» в базе данных").arg(table));
}

// The export only reads the journal: it is offered while the watch runs too,
// with the files beside the journal that hold its lines of a newer layout.
QPushButton *BenchWindow::buildExportButton(QWidget *parent)
{
    auto *buttonExport = new QPushButton(QStringLiteral("Экспорт в Excel…"), parent);
    buttonExport->setObjectName(QStringLiteral("buttonExportExcel"));
    connect(buttonExport, &QPushButton::clicked, this, [this] {
        auto *dialog = new ExportDialog(
            Journal::withBesideFiles(QDir::fromNativeSeparators(mEditJournal->text())), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    });
    return buttonExport;
}

// The file is read once and checked as the jobs check it; a refused file
// cannot start a run, and a run sends the very bytes that were checked.
void BenchWindow::setSettingsFile(const QString &fileName)
{
    mEditSettings->setText(QDir::toNativeSeparators(fileName));
    mSettingsContent = readSmallFile(fileName, maxSettingsFileBytes);
    mSettingsProblem = fileName.isEmpty() ? QStringLiteral("Файл настроек не выбран")
                                          : settingsContentProblem(fileName, mSettingsContent);
    checkProvision(); // against the settings just read
}

void BenchWindow::setProvisionFile(const QString &fileName)
{
    mEditProvision->setText(QDir::toNativeSeparators(fileName));
    if (!fileName.isEmpty())
        mComboTable->setCurrentIndex(0); // one source of rows: the file replaces the server's
    checkProvision();
}

// The table is checked whole against the settings file in use, as the watch
// checks it at its start; a refused table cannot start a run. While the
// settings file itself is refused, its problem is the one shown.
void BenchWindow::checkProvision()
{
    const QString table = QDir::fromNativeSeparators(mEditProvision->text());
    mProvisionProblem.clear();
    if (!table.isEmpty() && mSettingsProblem.isEmpty()) {
        const QStringList base = settingsLines(mSettingsContent);
        ProvisionTable checked;
        if (!checked.load(table, base, &mProvisionProblem) && mProvisionProblem.isEmpty())
            mProvisionProblem = QStringLiteral("Таблица настроек не принята");
    }
    mLabelSettingsProblem->setNote(mSettingsProblem.isEmpty() ? mProvisionProblem
                                                              : mSettingsProblem);
    mButtonNoProvision->setEnabled(!table.isEmpty() && !running());
    mButtonStart->setEnabled(running() ||
                             (mSettingsProblem.isEmpty() && mProvisionProblem.isEmpty()));
}

void BenchWindow::slot_mButtonStart_clicked()
{
    if (!mRun) {
        start();
        return;
    }
    mRun->stopGracefully();
    if (!mRun)
        return; // nothing was running: the watch has ended already
    mModel->setStopping(true);
    mButtonStart->setEnabled(false);
    mButtonStart->setText(QStringLiteral("Останавливаем…"));
}

void BenchWindow::start()
{
    const QString file = QDir::fromNativeSeparators(mEditSettings->text());
    setSettingsFile(file); // it and the table may have changed since they were chosen
    if (!mSettingsProblem.isEmpty() || !mProvisionProblem.isEmpty())
        return;
    const BenchSetup setup = currentSetup();
    const QString setupProblem = setup.problem();
    if (!setupProblem.isEmpty()) {
        mLabelProblem->setNote(setupProblem);
        return;
    }
    WatchOptions options;
    const bool flash = mComboJob->currentIndex() == 0;
    options.job = flash ? OperationType::Flash : OperationType::LoadSettings;
    options.jobName = flash ? QStringLiteral("flash") : QStringLiteral("load-settings");
    const QString filter = mComboFilter->currentText().trimmed();
    if (!filter.isEmpty() && filter != anyAdapter) {
        QString bad;
        const std::optional<UsbIdFilter> parsed = UsbIdFilter::parse(
            filter.split(QRegularExpression(QStringLiteral("[,; ]+")), Qt::SkipEmptyParts), &bad);
        if (!parsed) {
            mLabelProblem->setNote(QStringLiteral("Фильтр адаптеров не понят: ") + bad);
            return;
        }
        options.filter = *parsed;
    }
    options.includePresent = mCheckIncludePresent->isChecked();
    options.settingsFile = file;
    options.provisionFile = setup.provisionFile;
    options.provisionDb = setup.provisionDb;
    options.database = setup.database;
    options.journalFile = QDir::fromNativeSeparators(mEditJournal->text());
    options.timing = mTiming;
    options.benchName = setup.benchName;
    options.quarantine = mSpinQuarantine->value();
    options.goneAfterMs = mSpinGoneAfter->value() * 1000;
    const QString conflict = options.fileConflict();
    if (!conflict.isEmpty()) {
        mLabelProblem->setNote(conflict);
        return;
    }

    auto *run = new WatchRun(options, mLister, this);
    run->setSettingsContent(mSettingsContent); // every modem gets the bytes just checked
    connect(run, &WatchRun::signal_problem, mLabelProblem, &NoteLabel::setNote);
    connect(run, &WatchRun::signal_provisionProblem, mLabelProblem, &NoteLabel::setNote);
    mLabelSkipped->setNote(QString());
    connect(run, &WatchRun::signal_presentSkipped, mLabelSkipped, [this](const QStringList &ports) {
        mLabelSkipped->setNote(SocketText::presentSkipped(
            ports, QStringLiteral("включите «Брать и уже подключённые»")));
    });
    connect(run, &WatchRun::signal_finished, this, &BenchWindow::slot_mRun_signal_finished);
    connect(run, &WatchRun::signal_provisionChanged, this, &BenchWindow::refreshCounters);
    connect(run, &WatchRun::signal_fleetChanged, this, &BenchWindow::refreshCounters);
    connect(run, &WatchRun::signal_recordUnwritten, mUnwritten,
            [this](const JournalRecord &, const QByteArray &line, const QString &reason) {
                mUnwritten->add(line, reason);
            });
    mUnwritten->setJournal(options.journalFile);
    mModel->setRun(run, flash ? QStringLiteral("Прошивка") : QStringLiteral("Загрузка настроек"));
    QString error;
    if (!run->start(&error)) {
        mModel->setRun(nullptr);
        run->deleteLater();
        mLabelProblem->setNote(error);
        return;
    }
    mRun = run;
    mPanelShift->setRun(run);
    mProvisionLeft.clear(); // the last run's table said no more
    mFleetText.clear();
    mModel->startCountersFrom(run->todaysRecords()); // a restart goes on with today's counts
    refreshCounters();
    mLabelProblem->setNote(QString());
    saveChoices();
    setLocked(true);
    mTimerCounters->start();
}

void BenchWindow::slot_mRun_signal_finished()
{
    mTimerCounters->stop();
    refreshCounters();
    if (mRun)
        mRun->deleteLater(); // the model keeps its rows; the tiles say "Остановлено"
    mRun = nullptr;
    setLocked(false);
    if (mClosing)
        close();
}

// As large as a bench PC's screen allows, all of it on the screen, its frame
// included once the system has given it one.
void BenchWindow::fitIntoScreen()
{
    const QRect available = screen()->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    resize(qMin(preferredWidth, available.width() - frame.width()),
           qMin(preferredHeight, available.height() - frame.height()));
    move(available.topLeft());
}

void BenchWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (std::exchange(mFitted, true))
        return;
    fitIntoScreen();
    // Once the window is up, so that a refused settings file is seen with its reason.
    if (mCheckStartAtLaunch->isChecked())
        QTimer::singleShot(0, this, [this] {
            if (!mRun)
                start();
        });
}

void BenchWindow::setLocked(bool locked)
{
    mUnwritten->setRetryAllowed(!locked);
    for (QWidget *control :
         {static_cast<QWidget *>(mComboJob), static_cast<QWidget *>(mButtonSettings),
          static_cast<QWidget *>(mComboFilter), static_cast<QWidget *>(mCheckIncludePresent),
          static_cast<QWidget *>(mEditJournal), static_cast<QWidget *>(mButtonJournal),
          static_cast<QWidget *>(mEditBench), static_cast<QWidget *>(mSpinQuarantine),
          static_cast<QWidget *>(mSpinGoneAfter), static_cast<QWidget *>(mButtonProvision),
          static_cast<QWidget *>(mEditDatabase), static_cast<QWidget *>(mComboTable)})
        control->setEnabled(!locked);
    mButtonNoProvision->setEnabled(!locked && !mEditProvision->text().isEmpty());
    mButtonCheckDatabase->setEnabled(!locked && !mConnectionCheck);
    mActionSetupOpen->setEnabled(!locked); // saving the set-up in use stays allowed
    mButtonStart->setText(locked ? QStringLiteral("Остановить") : QStringLiteral("Начать"));
    mButtonStart->setEnabled(locked || (mSettingsProblem.isEmpty() && mProvisionProblem.isEmpty()));
}

// The model's counters, then the table's rows left while a table is used;
// the rows left stay after the run has stopped, until the next start. Under
// them, in red, the records the server has not taken: they wait for the next
// start too.
void BenchWindow::refreshCounters()
{
    if (mRun) {
        mProvisionLeft = mRun->provisionText();
        mFleetText = mRun->fleetText();
    }
    mLabelFleet->setNote(mFleetText);
    const QString counters = mModel->countersText();
    mLabelCounters->setText(
        mProvisionLeft.isEmpty() ? counters : counters + counterGap + keptTogether(mProvisionLeft));
}

// The adapters seen in the port list are offered for the filter; listing
// never opens a port.
void BenchWindow::refreshAdapters()
{
    if (mRun)
        return;
    for (const PortEntry &port : mLister.ports()) {
        if (!port.hasIds)
            continue;
        const QString id = hexId(port.vendorId) + QLatin1Char(':') + hexId(port.productId);
        if (mComboFilter->findText(id) < 0)
            mComboFilter->addItem(id);
    }
}

void BenchWindow::slot_mViewTiles_clicked(const QModelIndex &index)
{
    showLog(index.row());
}

void BenchWindow::showLog(int row)
{
    mLogRow = row;
    mTextLog->setPlainText(mModel->logLines(row).join(QLatin1Char('\n')));
    mTextLog->moveCursor(QTextCursor::End); // the latest lines in view
    refreshSocketActions();
}

SocketRun *BenchWindow::chosenSocket() const
{
    if (!mRun || mLogRow < 0)
        return nullptr;
    const int number = mModel->index(mLogRow, SocketModel::NumberColumn).data().toInt();
    return mRun->sockets().value(number);
}

// The chosen socket's day and what the operator may ask of it follow its state.
void BenchWindow::refreshSocketActions()
{
    const SocketRun *socket = chosenSocket();
    QString label = mLogRow < 0
                        ? QStringLiteral("Нажмите на гнездо, чтобы увидеть его журнал")
                        : QStringLiteral("Журнал гнезда ") +
                              mModel->index(mLogRow, SocketModel::NumberColumn).data().toString();
    if (socket)
        label += QStringLiteral(" · ") + mRun->health().todayText(socket->number());
    mLabelLog->setText(label);
    mButtonAgain->setEnabled(socket && socket->canPrepareAgain());
    mButtonEnable->setEnabled(socket && socket->outOfService());
    mButtonNumber->setEnabled(socket && !socket->jobRunning());
}

void BenchWindow::askForNumber()
{
    const SocketRun *socket = chosenSocket();
    if (!socket)
        return;
    const int from = socket->number();
    bool given = false;
    const int to = QInputDialog::getInt(
        this, QStringLiteral("Номер гнезда"),
        QStringLiteral("Новый номер для гнезда %1 (%2):").arg(from).arg(socket->port().socketKey()),
        from, 1, SocketNumbers::maxNumber, 1, &given);
    QString error;
    if (given && mRun && !mRun->renumber(from, to, &error))
        mLabelProblem->setNote(error);
    refreshSocketActions();
}

void BenchWindow::saveChoices() const
{
    if (!mStore)
        return;
    const BenchSetup setup = currentSetup();
    mStore->setValue(QStringLiteral("bench/job"), setup.job);
    mStore->setValue(QStringLiteral("bench/settings"), setup.settingsFile);
    mStore->setValue(QStringLiteral("bench/provision"), setup.provisionFile);
    mStore->setValue(QStringLiteral("bench/provisionDb"), setup.provisionDb);
    // A conninfo with a password is not kept: it would lie in the store in clear.
    mStore->setValue(QStringLiteral("bench/database"),
                     PgLink::conninfoFault(setup.database).isEmpty() ? setup.database : QString());
    mStore->setValue(QStringLiteral("bench/filter"), setup.filter);
    mStore->setValue(QStringLiteral("bench/journal"), setup.journalFile);
    mStore->setValue(QStringLiteral("bench/name"), setup.benchName);
    mStore->setValue(QStringLiteral("bench/startAtLaunch"), setup.startAtLaunch);
    mStore->setValue(QStringLiteral("line/quarantine"), setup.quarantine);
    mStore->setValue(QStringLiteral("line/goneAfterSeconds"), setup.goneAfterSeconds);
}

void BenchWindow::loadChoices()
{
    BenchSetup setup;
    setup.filter = anyAdapter;
    setup.journalFile = defaultJournal();
    setup.benchName = QSysInfo::machineHostName();
    if (mStore) {
        setup.job = qBound(0, mStore->value(QStringLiteral("bench/job"), 0).toInt(), 1);
        setup.filter = mStore->value(QStringLiteral("bench/filter"), setup.filter).toString();
        setup.journalFile =
            mStore->value(QStringLiteral("bench/journal"), setup.journalFile).toString();
        setup.settingsFile = mStore->value(QStringLiteral("bench/settings")).toString();
        setup.provisionFile = mStore->value(QStringLiteral("bench/provision")).toString();
        setup.provisionDb = mStore->value(QStringLiteral("bench/provisionDb")).toString();
        setup.database = mStore->value(QStringLiteral("bench/database")).toString();
        setup.benchName = mStore->value(QStringLiteral("bench/name"), setup.benchName).toString();
        setup.startAtLaunch = mStore->value(QStringLiteral("bench/startAtLaunch"), false).toBool();
        setup.quarantine =
            mStore->value(QStringLiteral("line/quarantine"), setup.quarantine).toInt();
        setup.goneAfterSeconds =
            mStore->value(QStringLiteral("line/goneAfterSeconds"), setup.goneAfterSeconds).toInt();
    }
    mCheckIncludePresent->setChecked(false); // taken only when asked for, every run
    applySetup(setup);
}

BenchSetup BenchWindow::currentSetup() const
{
    BenchSetup setup;
    setup.job = mComboJob->currentIndex();
    setup.settingsFile = QDir::fromNativeSeparators(mEditSettings->text());
    setup.provisionFile = QDir::fromNativeSeparators(mEditProvision->text());
    setup.provisionDb = databaseTable();
    setup.database = mEditDatabase->text().trimmed();
    setup.filter = mComboFilter->currentText();
    setup.journalFile = QDir::fromNativeSeparators(mEditJournal->text());
    setup.benchName = mEditBench->text().trimmed();
    setup.startAtLaunch = mCheckStartAtLaunch->isChecked();
    setup.quarantine = mSpinQuarantine->value();
    setup.goneAfterSeconds = mSpinGoneAfter->value();
    return setup;
}

void BenchWindow::applySetup(const BenchSetup &setup)
{
    mComboJob->setCurrentIndex(setup.job);
    mComboFilter->setEditText(setup.filter.isEmpty() ? anyAdapter : setup.filter);
    mEditJournal->setText(QDir::toNativeSeparators(setup.journalFile));
    mEditBench->setText(setup.benchName);
    mCheckStartAtLaunch->setChecked(setup.startAtLaunch);
    mSpinQuarantine->setValue(setup.quarantine);
    mSpinGoneAfter->setValue(setup.goneAfterSeconds);
    mEditDatabase->setText(setup.database);
    setDatabaseNote(QString(), false);
    setDatabaseTable(setup.provisionDb);
    // The table first: the settings file's check checks the table against it.
    mEditProvision->setText(QDir::toNativeSeparators(setup.provisionFile));
    setSettingsFile(defaultSettings(setup.settingsFile, setup.journalFile));
    refreshTitle();
}

bool BenchWindow::openSetup(const QString &fileName)
{
    if (running())
        return false; // the controls are locked while the bench runs
    QString error;
    const std::optional<BenchSetup> setup = BenchSetup::load(fileName, &error);
    if (!setup) {
        mLabelProblem->setNote(error);
        return false;
    }
    BenchSetup taken = *setup;
    if (taken.benchName.isEmpty())
        taken.benchName = QSysInfo::machineHostName();
    applySetup(taken);
    mLabelProblem->setNote(QString());
    saveChoices();
    return true;
}

bool BenchWindow::saveSetup(const QString &fileName)
{
    QString error;
    if (!currentSetup().save(fileName, &error)) {
        mLabelProblem->setNote(error);
        return false;
    }
    mLabelProblem->setNote(QString());
    return true;
}

void BenchWindow::refreshTitle()
{
    const QString name = mEditBench->text().trimmed();
    setWindowTitle(name.isEmpty() ? appTitle : name + QStringLiteral(" — ") + appTitle);
}

bool BenchWindow::jobsRunning() const
{
    if (!mRun)
        return false;
    for (const SocketRun *socket : mRun->sockets()) {
        if (socket->jobRunning())
            return true;
    }
    return false;
}

// Closing while modems are being written asks once; then every port is told
// to stop and the window goes when they have, or after half a second.
void BenchWindow::closeEvent(QCloseEvent *event)
{
    if (!mRun || mRun->finished()) {
        saveChoices();
        event->accept();
        return;
    }
    if (!mClosing && jobsRunning() &&
        QMessageBox::question(
            this, QStringLiteral("Стенд"),
            QStringLiteral("Идёт прошивка модемов. Прервать её и закрыть окно?")) !=
            QMessageBox::Yes) {
        event->ignore();
        return;
    }
    if (!mClosing) {
        mClosing = true;
        mRun->stopNow();
        QTimer::singleShot(mTiming.benchCloseWithin, this, [this] {
            mRun = nullptr; // its sockets finish closing on their own threads
            close();
        });
    }
    if (mRun && !mRun->finished())
        event->ignore();
    else
        event->accept();
}
