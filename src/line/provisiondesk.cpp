#include "provisiondesk.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPointer>
#include <memory>

ProvisionDesk::ProvisionDesk(QObject *parent) : RowDesk(parent) {}

QString ProvisionDesk::tableName() const
{
    return QFileInfo(mTable.fileName()).fileName();
}

bool ProvisionDesk::open(const QString &tableFile, const QStringList &base, int lowMark,
                         QString *error)
{
    if (!mTable.load(tableFile, base, error))
        return false;
    mBook = ProvisionBook(mTable.rows());
    const QString usedFile = UsedRows::fileFor(tableFile);
    QList<UsedRows::Entry> entries;
    if (!mUsed.open(usedFile, &entries, error) || !mBook.restore(entries, usedFile, error))
        return false;
    mLowMark = lowMark;
    // A table used up before this run is said at its start, like one used up during it.
    if (mBook.left() == 0)
        QMetaObject::invokeMethod(this, &ProvisionDesk::checkExhausted, Qt::QueuedConnection);
    return true;
}

void ProvisionDesk::request(const QString &imei, QObject *context, Done done)
{
    Grant grant;
    const ProvisionBook::Choice choice = mBroken ? ProvisionBook::Choice() : mBook.choose(imei);
    if (choice.index < 0) {
        grant.refusal = mBroken ? QStringLiteral("файл выданных строк не записан") : choice.refusal;
        QPointer<QObject> guard(context);
        QMetaObject::invokeMethod(
            this,
            [guard, done, grant] {
                if (guard)
                    done(grant);
            },
            Qt::QueuedConnection);
        return;
    }
    // Bound at once, so that no other modem is given the same row meanwhile.
    mBook.bind(choice.index, imei);
    const ProvisionTable::Row &row = mBook.row(choice.index);
    grant.row = row.line;
    grant.settings = SmallFile(SmallFile::Status::Read, mTable.settingsFor(row));
    if (low())
        grant.note = leftText();
    if (choice.binding) {
        emit signal_leftChanged();
        checkExhausted();
    }
    QPointer<QObject> guard(context);
    write(UsedRows::Entry{row.line, imei, QDateTime::currentDateTime(), UsedRows::given()},
          [guard, done, grant](const QString &failure) mutable {
              if (!failure.isEmpty()) {
                  grant.refusal = failure;
                  grant.row = 0;
                  grant.settings = SmallFile();
              }
              if (guard)
                  done(grant);
          });
}

void ProvisionDesk::noteResult(int row, const QString &imei, JournalRecord::Result result)
{
    if (row <= 0)
        return;
    const int index = mBook.indexOfLine(row);
    if (index >= 0)
        mBook.noteResult(index, result == JournalRecord::Result::Success);
    emit signal_leftChanged();
    checkExhausted();
    write(
        UsedRows::Entry{row, imei, QDateTime::currentDateTime(), JournalRecord::resultText(result)},
        [](const QString &) {});
}

// Each line goes to the disk in order; a failure is said once and stops the hand-out.
void ProvisionDesk::write(const UsedRows::Entry &entry, std::function<void(const QString &)> done)
{
    const QByteArray line = UsedRows::line(entry);
    auto reason = std::make_shared<QString>();
    auto written = std::make_shared<bool>(false);
    UsedRows *used = &mUsed;
    mWriter.post([used, line, reason, written] { *written = used->writeLine(line, reason.get()); },
                 [this, reason, written, done] {
                     QString failure;
                     if (!*written) {
                         failure = mUsed.writeFailure(*reason);
                         if (!mBroken)
                             emit signal_problem(failure);
                         mBroken = true;
                     }
                     done(failure);
                     if (mWriter.pending() == 0)
                         emit signal_allWritten();
                 });
}

QString ProvisionDesk::leftText() const
{
    const int left = mBook.left();
    QString text = QStringLiteral("Строк таблицы осталось: %1").arg(left);
    if (left == 0)
        return text + QStringLiteral(" — ") + ProvisionBook::exhaustedText();
    if (left <= mLowMark)
        text += QStringLiteral(" — заканчиваются");
    return text;
}

void ProvisionDesk::checkExhausted()
{
    if (mExhaustedSaid || mBook.left() > 0)
        return;
    mExhaustedSaid = true;
    emit signal_exhausted(ProvisionBook::exhaustedText() + QStringLiteral(": ") +
                          mTable.fileName() + QStringLiteral(" — новые модемы не начинаются"));
}
