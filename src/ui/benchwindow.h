#pragma once

#include "fleet/fleetdesk.h"
#include "line/benchsetup.h"
#include "line/portlister.h"
#include "line/watchrun.h"
#include "settings/smallfile.h"

#include <QMainWindow>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QLabel;
class NoteLabel;
class QLineEdit;
class QListView;
class QPlainTextEdit;
class QPushButton;
class QSettings;
class QSpinBox;
class QTimer;
class QToolButton;
class QAction;
class FleetConnection;
class ShiftPanel;
class SocketModel;
class UnwrittenRecords;

// The production line's window: the job, the settings file, the adapter
// filter and the journal across the top, one tile per socket below, the
// chosen socket's log at the bottom. It starts a watch on "Начать" and lets
// running jobs finish on "Остановить". It never shows a box while sockets
// work: problems go on their tile or under the controls.
class BenchWindow : public QMainWindow
{
    Q_OBJECT

public:
    // store keeps the operator's choices between runs; it may be null. The
    // watch runs on the product's timing unless a test scales it.
    BenchWindow(const PortLister &lister, QSettings *store, const Timing &timing = Timing(),
                QWidget *parent = nullptr);

    // The file dialog's choice; checked at once, the reason shown when refused.
    void setSettingsFile(const QString &fileName);
    QString settingsProblem() const { return mSettingsProblem; }
    // The provisioning table's choice, checked at once against the settings
    // file; empty: no table.
    void setProvisionFile(const QString &fileName);
    QString provisionProblem() const { return mProvisionProblem; }
    // Takes the set-up from a ".lorta-bench" file; a refused one changes
    // nothing and its reason is shown. False when refused.
    bool openSetup(const QString &fileName);
    bool saveSetup(const QString &fileName);
    bool running() const { return mRun != nullptr; }
    SocketModel *model() const { return mModel; }
    UnwrittenRecords *unwritten() const { return mUnwritten; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void slot_mButtonStart_clicked();
    void slot_mRun_signal_finished();
    void slot_mViewTiles_clicked(const QModelIndex &index);
    void slot_mButtonCheckDatabase_clicked();
    void slot_mComboTable_currentIndexChanged(int index);
    void buildTop(QWidget *top);
    QWidget *buildDatabasePage(QWidget *parent);
    void showTables(const QList<FleetDesk::TableInfo> &tables);
    void setDatabaseTable(const QString &name);
    void showRowSource();
    QString databaseTable() const;
    void setDatabaseNote(const QString &text, bool problem);
    bool checkDatabase();
    QPushButton *buildExportButton(QWidget *parent);
    void start();
    void setLocked(bool locked);
    void checkProvision();
    void refreshCounters();
    void fitIntoScreen();
    void refreshAdapters();
    void showLog(int row);
    void refreshSocketActions();
    void askForNumber();
    SocketRun *chosenSocket() const;
    void saveChoices() const;
    void loadChoices();
    BenchSetup currentSetup() const;
    void applySetup(const BenchSetup &setup);
    void refreshTitle();
    bool jobsRunning() const;

    PortLister mLister;
    Timing mTiming;
    QSettings *mStore;
    SocketModel *mModel;
    QPointer<WatchRun> mRun;
    QComboBox *mComboJob;
    QLineEdit *mEditSettings;
    QPushButton *mButtonSettings;
    NoteLabel *mLabelSettingsProblem; // the settings file's or the table's problem
    QLineEdit *mEditProvision;
    QPushButton *mButtonProvision;
    QPushButton *mButtonNoProvision;
    QWidget *mPageDatabase; // the floor's server, a tab below the tiles
    QLineEdit *mEditDatabase;
    QPushButton *mButtonCheckDatabase;
    QLabel *mLabelDatabase; // the last check's answer, or why the conninfo is refused
    QComboBox *mComboTable; // a provisioning table on the server; the first item: none
    QPointer<FleetConnection> mConnectionCheck; // while "Проверить" waits for the server
    QComboBox *mComboFilter;
    QCheckBox *mCheckIncludePresent;
    QLineEdit *mEditJournal;
    QPushButton *mButtonJournal;
    QPushButton *mButtonStart;
    QLineEdit *mEditBench;
    QCheckBox *mCheckStartAtLaunch;
    QSpinBox *mSpinQuarantine;
    QSpinBox *mSpinGoneAfter;  // seconds
    QToolButton *mButtonSetup; // the set-up file's save and open
    QAction *mActionSetupSave;
    QAction *mActionSetupOpen;
    QLabel *mLabelCounters;
    NoteLabel *mLabelProblem;
    NoteLabel *mLabelFleet;   // records waiting for the server, and why
    NoteLabel *mLabelSkipped; // matching ports left alone because they were there at the start
    UnwrittenRecords *mUnwritten;
    QListView *mViewTiles;
    QLabel *mLabelLog;
    QPushButton *mButtonAgain;  // the chosen socket's modem prepared once more
    QPushButton *mButtonEnable; // the chosen socket back in service
    QPushButton *mButtonNumber; // the chosen socket given another free number
    QPlainTextEdit *mTextLog;
    ShiftPanel *mPanelShift;
    QTimer *mTimerCounters;
    QTimer *mTimerAdapters;
    QString mSettingsProblem;
    QString mProvisionProblem;
    QString mProvisionLeft; // the table's rows left as the last run said
    QString mFleetText;     // the server's state as the last run said
    SmallFile mSettingsContent;
    int mLogRow = -1;
    bool mClosing = false;
    bool mFitted = false; // to its screen, when first shown
};
