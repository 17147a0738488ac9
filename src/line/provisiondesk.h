#pragma once

#include "provisionbook.h"
#include "provisiontable.h"
#include "rowdesk.h"
#include "settings/smallfile.h"
#include "usedrows.h"
#include "workerthread.h"

#include <functional>

// Hands out the rows of a provisioning table to the modems of a run. A row
// goes into a modem only once the line that gives it to the modem's IMEI is
// on the disk, in the used-rows file beside the table; the job's end is
// written there too. The disk is left to a thread of its own, so the event
// loop never waits for it.
class ProvisionDesk : public RowDesk
{
    Q_OBJECT

public:
    explicit ProvisionDesk(QObject *parent = nullptr);

    // Reads and checks the table (every row composed over the base settings
    // lines) and its used-rows file; false with a sentence. lowMark: the rows
    // left at which every job says so.
    bool open(const QString &tableFile, const QStringList &base, int lowMark, QString *error);
    QString tableFile() const { return mTable.fileName(); }

    // The row for the modem with this IMEI, once given on the disk; done runs
    // on this object's thread, not at all when context is gone by then.
    void request(const QString &imei, QObject *context, Done done) override;
    // How the job with the row ended; 0 rows are none of the table's.
    void noteResult(int row, const QString &imei, JournalRecord::Result result) override;

    int left() const override { return mBook.left(); }
    bool low() const override { return mBook.left() <= mLowMark; }
    // "Строк таблицы осталось: N", and that it is running low or out.
    QString leftText() const override;
    // Lines on their way to the disk.
    int pending() const override { return mWriter.pending(); }
    QString tableName() const override;

private:
    void write(const UsedRows::Entry &entry, std::function<void(const QString &)> done);
    void checkExhausted();

    ProvisionTable mTable;
    ProvisionBook mBook;
    UsedRows mUsed;
    int mLowMark = 0;
    bool mExhaustedSaid = false;
    bool mBroken = false; // a line failed: nothing more is given out
    // Declared last, so destroyed first: its tasks use the used-rows file.
    WorkerThread mWriter{QStringLiteral("ProvisionWriter")};
};
