#include "provisionbook.h"

#include "journalrecord.h"

#include <algorithm>

ProvisionBook::ProvisionBook(const QList<ProvisionTable::Row> &rows) : mRows(rows)
{
    for (int i = 0; i < mRows.size(); ++i) {
        mListBound.append(mRows.at(i).imei);
        mListUsed.append(false);
        if (!mRows.at(i).imei.isEmpty())
            mHashByImei.insert(mRows.at(i).imei, i);
    }
}

int ProvisionBook::indexOfLine(int line) const
{
    const auto found =
        std::find_if(mRows.cbegin(), mRows.cend(),
                     [line](const ProvisionTable::Row &row) { return row.line == line; });
    return found == mRows.cend() ? -1 : int(found - mRows.cbegin());
}

bool ProvisionBook::restore(const QList<UsedRows::Entry> &entries, const QString &usedFile,
                            QString *error)
{
    const QString edited = QStringLiteral(": таблицу изменили после того, как строки были "
                                          "выданы. Верните прежнюю таблицу или начните новую "
                                          "вместе с новым файлом ") +
                           usedFile;
    for (const UsedRows::Entry &entry : entries) {
        const int index = indexOfLine(entry.row);
        const QString where =
            QStringLiteral("Строка %1 выдана модему %2").arg(entry.row).arg(entry.imei);
        if (index < 0) {
            *error = where + QStringLiteral(", но её нет в таблице") + edited;
            return false;
        }
        const QString &owner = mListBound.at(index);
        const int own = mHashByImei.value(entry.imei, index);
        if ((!owner.isEmpty() && owner != entry.imei) || own != index) {
            *error =
                where + QStringLiteral(", а по таблице она или этот модем заняты иначе") + edited;
            return false;
        }
        bind(index, entry.imei);
        if (entry.result == JournalRecord::resultText(JournalRecord::Result::Success))
            mListUsed[index] = true;
    }
    return true;
}

ProvisionBook::Choice ProvisionBook::choose(const QString &imei) const
{
    Choice choice;
    if (imei.isEmpty()) {
        choice.refusal = QStringLiteral("IMEI не прочитан: таблица требует IMEI");
        return choice;
    }
    choice.index = mHashByImei.value(imei, -1);
    if (choice.index >= 0)
        return choice;
    bool inOrder = false;
    for (int i = 0; i < mRows.size(); ++i) {
        if (!mRows.at(i).imei.isEmpty())
            continue;
        inOrder = true;
        if (mListBound.at(i).isEmpty()) {
            choice.index = i;
            choice.binding = true;
            return choice;
        }
    }
    choice.refusal =
        inOrder ? exhaustedText() : QStringLiteral("нет строки в таблице для IMEI ") + imei;
    return choice;
}

void ProvisionBook::bind(int index, const QString &imei)
{
    mListBound[index] = imei;
    mHashByImei.insert(imei, index);
}

void ProvisionBook::noteResult(int index, bool success)
{
    if (success)
        mListUsed[index] = true;
}

int ProvisionBook::left() const
{
    int count = 0;
    for (int i = 0; i < mRows.size(); ++i) {
        if (!mListUsed.at(i) && (mListBound.at(i).isEmpty() || !mRows.at(i).imei.isEmpty()))
            ++count;
    }
    return count;
}
