#pragma once

#include "journalrecord.h"
#include "linecounters.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>
#include <QVector>

class WatchRun;

// The bench's sockets as a table: one row per socket in socket order, kept up
// to date from the watch's signals. Besides the columns, column 0 carries what
// a tile shows (its tone, the state in words, a detail line, the progress)
// under the roles below. A socket keeps its verdict until the modem is pulled;
// a verdict about a pulled modem stays until the next modem is plugged in.
class SocketModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        NumberColumn,
        PortColumn,
        AdapterColumn,
        ImeiColumn,
        StateColumn,
        StepColumn,
        ProgressColumn,
        VerdictColumn,
        DurationColumn,
        ColumnCount
    };
    enum Role
    {
        ToneRole = Qt::UserRole + 1, // a Tone
        StateTextRole,               // the state in words
        DetailRole,                  // bytes, duration or the reason a port did not open
        ProgressRole,                // percent, or -1 when no job runs
        WarningRole,                 // the duplicate-IMEI warning
        NumberRole,
        PortRole, // "ttyUSB0 · 0403:6001"
        ImeiRole,
        VerdictRole // a Verdict: what the tile's large word and shape say
    };
    enum Tone
    {
        Idle,
        Busy,
        Good,
        Bad
    };
    // What the operator reads from across the bench, one word per kind.
    enum Verdict
    {
        Waiting,        // no modem, or one that is still starting
        Working,        // identifying or running a job
        Done,           // flashed here
        AlreadyFlashed, // its script already runs
        Rejected,       // the job failed
        NoAnswer,       // talks, but never answers
        Interrupted,    // the job was stopped
        Unplugged,      // pulled mid-job
        NoPort,         // the port did not open
        OutOfService,   // failures in a row took the socket out
        NoTableRow      // the provisioning table has no row for the modem
    };

    explicit SocketModel(QObject *parent = nullptr);

    // Follows this watch from now on; the rows of an earlier one are dropped.
    // The job's title starts a running tile's state: "Прошивка: шаг 3 из 10".
    void setRun(WatchRun *run, const QString &jobTitle = QStringLiteral("Прошивка"));
    // No new modem starts: the tiles say so until the watch has ended.
    void setStopping(bool stopping);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int rowOf(int number) const;
    QStringList logLines(int row) const;
    int succeeded() const { return mCounters.succeeded; }
    int failed() const { return mCounters.failed; }
    QString countersText() const;
    // The counters continue from these records (today's, from the journal).
    void startCountersFrom(const QList<JournalRecord> &records);

    // The most log lines a socket keeps; older ones are dropped.
    static constexpr int maxLogLines = 2000;

signals:
    void signal_logLineAdded(int row, QString line);
    void signal_countersChanged();

private:
    struct Row
    {
        int number = 0;
        QString port;
        QString adapter;
        QString ids; // VID:PID alone, for the tile
        QString imei;
        QString state;
        QString step;
        int progress = -1;
        Tone tone = Idle;
        Verdict kind = Waiting;
        JournalRecord::Result result = JournalRecord::Result::Success;
        QString verdict;
        QString detail;
        QString hint;
        QString warning;
        double seconds = -1;
        bool verdictKept = false;
        bool unplugVerdict = false;
        QStringList log;
    };

    void slot_run_signal_socketAdded(int number);
    void slot_run_signal_socketRenumbered(int from, int to);
    void slot_run_signal_socketChanged(int number);
    void slot_run_signal_event(int number, const QString &port, const QString &text);
    void slot_run_signal_jobEnded(const JournalRecord &record);
    static Verdict verdictOf(JournalRecord::Result result);
    void refresh(Row &row);
    void warn(int number, const QString &warning);
    void appendLog(int number, const QString &line);
    void changed(int row);
    QVariant tileData(const Row &row, int role) const;
    QVariant cellData(const Row &row, int column) const;

    QPointer<WatchRun> mRun;
    QString mJobTitle;
    QVector<Row> mRows;
    bool mStopping = false;
    LineCounters mCounters;
};
