#pragma once

#include "provisiontable.h"
#include "usedrows.h"

#include <QHash>
#include <QList>
#include <QString>

// Which row of a provisioning table each modem gets. A modem whose IMEI has a
// row in the table gets that row; otherwise the first row without an IMEI
// that no modem has yet, top to bottom, which belongs to that IMEI from then
// on. So a modem prepared again (a failure, a retry, another socket or day)
// gets its own row back and never a second one. A row is used once its
// modem's job succeeded; a failed job uses up nothing.
class ProvisionBook
{
public:
    struct Choice
    {
        int index = -1;       // into the table's rows; -1: no row, refusal says why
        bool binding = false; // a free row, given to this IMEI now
        QString refusal;
    };

    explicit ProvisionBook(const QList<ProvisionTable::Row> &rows = {});
    // The rows given out before, as the used-rows file tells; false with a
    // sentence when the file does not fit the table (edited since).
    bool restore(const QList<UsedRows::Entry> &entries, const QString &usedFile, QString *error);

    Choice choose(const QString &imei) const;
    void bind(int index, const QString &imei);
    void noteResult(int index, bool success);
    // The index of the row on this line of the table; -1 for none.
    int indexOfLine(int line) const;

    // Rows a modem not seen yet can still get: the free ones without an IMEI,
    // and those with an IMEI whose modem has not been prepared yet.
    int left() const;
    int size() const { return mRows.size(); }
    const ProvisionTable::Row &row(int index) const { return mRows.at(index); }
    static QString exhaustedText() { return QStringLiteral("Таблица настроек исчерпана"); }

private:
    QList<ProvisionTable::Row> mRows;
    QHash<QString, int> mHashByImei; // the table's own IMEIs and the rows given since
    QList<QString> mListBound;       // per row: the IMEI it belongs to, empty while free
    QList<bool> mListUsed;           // per row: its modem was prepared successfully
};
