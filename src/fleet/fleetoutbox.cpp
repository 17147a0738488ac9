#include "fleetoutbox.h"

#include "fleetconnection.h"
#include "fleetschema.h"
#include "line/journal.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <memory>

namespace {

constexpr const char *insertRecords = R"sql(
INSERT INTO lorta_record (id, bench, written_at, day, socket, port, serial_number, imei, job,
                          result, step, text, seconds, version, settings_file, table_row,
                          settings_hash, file_hashes)
SELECT id, bench, written_at, day, socket, port, serial_number, imei, job, result, step, text,
       seconds, version, settings_file, table_row, settings_hash, file_hashes
FROM jsonb_to_recordset($1::jsonb) AS r(ord integer, id uuid, bench text, written_at timestamptz,
     day date, socket integer, port text, serial_number text, imei text, job text, result text,
     step text, text text, seconds double precision, version text, settings_file text,
     table_row integer, settings_hash text, file_hashes text)
ORDER BY ord
ON CONFLICT (id) DO NOTHING
)sql";

QByteArray withoutLineEnd(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

FleetOutbox::FleetOutbox(FleetConnection *connection, QObject *parent)
    : QObject(parent), mConnection(connection)
{
    mTimerRetry.setSingleShot(true);
    connect(&mTimerRetry, &QTimer::timeout, this, &FleetOutbox::sendNext);
}

QString FleetOutbox::confirmedFileFor(const QString &journalFile)
{
    return journalFile + QStringLiteral(".sent");
}

bool FleetOutbox::open(const QString &journalFile, QString *error)
{
    const QString confirmedFile = confirmedFileFor(journalFile);
    if (!mConfirmed.open(confirmedFile, error))
        return false;
    if (!mConfirmed.holdExclusively()) {
        *error = QStringLiteral("Файл %1 уже ведёт другой стенд").arg(confirmedFile);
        return false;
    }
    auto found = std::make_shared<QList<Pending>>();
    mPendingLines = 1; // the file's lines count as waiting until read
    mDisk.post(
        [journalFile, confirmedFile, found] {
            QFile journal(journalFile);
            QFile confirmed(confirmedFile);
            if (journal.open(QIODevice::ReadOnly) && confirmed.open(QIODevice::ReadOnly))
                *found = unconfirmed(journal.readAll(), confirmed.readAll());
        },
        [this, found] {
            mPendingLines = 0;
            mRead = true;
            queue(*found);
            for (const QByteArray &line : qAsConst(mListEarly))
                add(line);
            mListEarly.clear();
            emit signal_changed();
        });
    return true;
}

QList<FleetOutbox::Pending> FleetOutbox::unconfirmed(const QByteArray &journal,
                                                     const QByteArray &confirmed)
{
    QSet<QString> done;
    for (const QByteArray &id : confirmed.split('\n'))
        done.insert(QString::fromLatin1(withoutLineEnd(id)));
    QList<Pending> records;
    const QList<QByteArray> lines = journal.split('\n');
    for (int i = 1; i < lines.size(); ++i) { // the header first
        Pending pending;
        if (toPending(lines.at(i), &pending) && !done.contains(pending.id))
            records << pending;
    }
    return records;
}

// A line of the journal's own layout as the server's columns; a line without
// its id (torn, or not a record) is none.
bool FleetOutbox::toPending(const QByteArray &line, Pending *pending)
{
    const QStringList fields = Journal::splitLine(QString::fromUtf8(withoutLineEnd(line)));
    if (fields.size() != Journal::ColumnCount || fields.at(Journal::ColumnRecordId).isEmpty())
        return false;
    const QDateTime time = Journal::timeFromText(fields.at(Journal::ColumnTime));
    if (!time.isValid())
        return false;
    const auto field = [&fields](Journal::Column column) { return fields.at(column); };
    QJsonObject record{{QStringLiteral("id"), field(Journal::ColumnRecordId)},
                       {QStringLiteral("bench"), field(Journal::ColumnBench)},
                       {QStringLiteral("written_at"),
                        time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate)},
                       {QStringLiteral("day"), time.date().toString(Qt::ISODate)},
                       {QStringLiteral("socket"), field(Journal::ColumnSocket).toInt()},
                       {QStringLiteral("port"), field(Journal::ColumnPort)},
                       {QStringLiteral("serial_number"), field(Journal::ColumnSerialNumber)},
                       {QStringLiteral("imei"), field(Journal::ColumnImei)},
                       {QStringLiteral("job"), field(Journal::ColumnJob)},
                       {QStringLiteral("result"), field(Journal::ColumnResult)},
                       {QStringLiteral("step"), field(Journal::ColumnStep)},
                       {QStringLiteral("text"), field(Journal::ColumnText)},
                       {QStringLiteral("version"), field(Journal::ColumnVersion)},
                       {QStringLiteral("settings_file"), field(Journal::ColumnSettingsFile)},
                       {QStringLiteral("settings_hash"), field(Journal::ColumnSettingsHash)},
                       {QStringLiteral("file_hashes"), field(Journal::ColumnFileHashes)}};
    bool number = false;
    const double seconds = field(Journal::ColumnSeconds).toDouble(&number);
    if (number)
        record.insert(QStringLiteral("seconds"), seconds);
    const int row = field(Journal::ColumnTableRow).toInt(&number);
    if (number)
        record.insert(QStringLiteral("table_row"), row);
    pending->id = record.value(QStringLiteral("id")).toString();
    pending->json = QJsonDocument(record).toJson(QJsonDocument::Compact);
    return true;
}

void FleetOutbox::add(const QByteArray &line)
{
    if (!mRead) {
        mListEarly << line;
        return;
    }
    Pending pending;
    if (toPending(line, &pending))
        queue({pending});
    emit signal_changed();
}

void FleetOutbox::queue(const QList<Pending> &records)
{
    for (const Pending &record : records) {
        if (mSetQueued.contains(record.id))
            continue;
        mSetQueued.insert(record.id);
        mListQueue << record;
    }
    sendNext();
}

void FleetOutbox::sendNext()
{
    if (mSending || mListQueue.isEmpty() || mTimerRetry.isActive())
        return;
    mSending = true;
    if (!mSchemaReady) {
        FleetSchema::ensure(mConnection, this, [this](const QString &error) {
            mSending = false;
            mSchemaReady = error.isEmpty();
            if (!mSchemaReady) {
                setReason(error);
                mTimerRetry.start(int(mConnection->timing().retry.count()));
                return;
            }
            sendNext();
        });
        return;
    }
    const QList<Pending> batch = mListQueue.mid(0, mConnection->timing().batchRecords);
    QByteArray array = "[";
    for (int i = 0; i < batch.size(); ++i) {
        QByteArray json = batch.at(i).json;
        json.insert(1, "\"ord\":" + QByteArray::number(i) + ',');
        array += (i > 0 ? "," : "") + json;
    }
    array += ']';
    mConnection->run(PgLink::Statement{insertRecords, {array}}, mConnection->timing().recordLimit,
                     this, [this, batch](const PgLink::Answer &answer) {
                         slot_batch_answered(batch, answer.ok, answer.error);
                     });
}

void FleetOutbox::slot_batch_answered(const QList<Pending> &batch, bool ok, const QString &error)
{
    if (!ok) {
        mSending = false;
        // A schema gone or changed meanwhile is looked at again with the next try.
        mSchemaReady = false;
        setReason(error);
        mTimerRetry.start(int(mConnection->timing().retry.count()));
        return;
    }
    setReason(QString());
    confirm(batch);
}

// The ids reach the disk before the records leave the queue: a power cut in
// between sends them once more, which the server ignores.
void FleetOutbox::confirm(const QList<Pending> &batch)
{
    QByteArray lines;
    for (const Pending &record : batch)
        lines += record.id.toLatin1() + '\n';
    AppendJournal *file = &mConfirmed;
    auto error = std::make_shared<QString>();
    mDisk.post(
        [file, lines, error] {
            if (file->append(lines, error.get()))
                file->syncToDisk(error.get());
        },
        [this, batch, error] {
            if (!error->isEmpty())
                emit signal_problem(QStringLiteral("Не удалось записать %1: %2")
                                        .arg(mConfirmed.fileName(), *error));
            mListQueue.erase(mListQueue.begin(), mListQueue.begin() + batch.size());
            mSending = false;
            emit signal_changed();
            sendNext();
        });
}

// Said after every answer, a failure like the one before included: a run's
// end waits on it.
void FleetOutbox::setReason(const QString &reason)
{
    mReason = reason;
    emit signal_changed();
}

QString FleetOutbox::statusText() const
{
    if (available())
        return QString();
    return QStringLiteral("База недоступна: %1 записей ждут отправки — %2")
        .arg(waiting())
        .arg(mReason);
}

bool FleetOutbox::idle() const
{
    return mRead && !mSending && mDisk.pending() == 0;
}
