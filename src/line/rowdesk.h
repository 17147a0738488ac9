#pragma once

#include "journalrecord.h"
#include "settings/smallfile.h"

#include <QObject>
#include <functional>

// Where the modems of a run get their rows of a provisioning table: a table
// file on the bench, or a table kept on the floor's server. A row goes into a
// modem only once it is given to the modem's IMEI for good.
class RowDesk : public QObject
{
    Q_OBJECT

public:
    struct Grant
    {
        int row = 0;        // the table's row; 0 when refused or not yet given
        SmallFile settings; // the bytes the modem gets
        QString refusal;    // why the modem gets no job
        QString note;       // the table running low, for the job's event line
        // Not given yet, and why ("База недоступна: ждём строку таблицы"): the
        // modem waits, and the grant itself follows once there is an answer.
        QString waiting;
    };
    using Done = std::function<void(const Grant &)>;

    using QObject::QObject;

    // The row for the modem with this IMEI; done runs on this object's thread,
    // not at all when context is gone by then, and more than once only while
    // the grant says it is waiting.
    virtual void request(const QString &imei, QObject *context, Done done) = 0;
    // How the job with the row ended; 0 rows are none of the table's.
    virtual void noteResult(int row, const QString &imei, JournalRecord::Result result) = 0;
    virtual int left() const = 0;
    virtual bool low() const = 0;
    // "Строк таблицы осталось: N", and that it is running low or out.
    virtual QString leftText() const = 0;
    // Work on its way to the disk or the server that a run must wait for.
    virtual int pending() const = 0;
    // The table as the journal's settings-file column names it.
    virtual QString tableName() const = 0;

signals:
    // No further row can be given, and why.
    void signal_problem(QString text);
    void signal_leftChanged();
    // Said once, when the last row a new modem could get is gone.
    void signal_exhausted(QString text);
    // Nothing is pending any more.
    void signal_allWritten();
};
