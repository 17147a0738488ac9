#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The provisioning table: a CSV as Excel saves it with Russian settings (UTF-8
// with or without a BOM, ";" between fields, quoted fields allowed) whose
// header names the settings keys a row sets for its modem, and optionally an
// "IMEI" column that binds a row to one modem. The whole table is checked when
// it is read; a table with any fault is refused whole, the fault named with its
// line, so that no modem gets settings from a half-right table.
class ProvisionTable
{
public:
    struct Row
    {
        int line = 0; // the row's line in the file, the header being line 1: the row's number
        QString imei; // empty: the row is handed out in order
        // The keys the row sets, with their values; an empty cell sets nothing.
        QHash<QString, QString> values;
    };

    // Reads and checks the file; false with the reason ("Таблица настроек …,
    // строка N: …"). base: the lines of the settings file the other keys come
    // from; every row's composed file is checked against the settings file's
    // limits too. A refused table leaves no rows, so nothing of it is handed out.
    bool load(const QString &fileName, const QStringList &base, QString *error);
    // The same for bytes already read; fileName only names the table in texts.
    bool parse(const QByteArray &bytes, const QString &fileName, const QStringList &base,
               QString *error);

    QString fileName() const { return mFileName; }
    const QList<Row> &rows() const { return mListRows; }
    // The settings file's bytes for a row: the base's values as the settings
    // dialog reads them, the row's over them, composed as the dialog writes.
    QByteArray settingsFor(const Row &row) const;
    // The same for cells kept elsewhere (the floor's server), over these base lines.
    static QByteArray settingsOver(const QStringList &base, const QHash<QString, QString> &values);
    // The keys a table may set: the dialog's eight (DEBUG_SER is never set).
    static QStringList settableKeys();
    static QString imeiColumn() { return QStringLiteral("IMEI"); }

private:
    bool refuse(const QString &fault, QString *error);
    // The first fault of the table's lines, as the sentence names it; empty when there is none.
    QString readLines(const QList<QByteArray> &lines);

    QString mFileName;
    QList<Row> mListRows;
    QHash<QString, QString> mHashBase; // the base file's values as the dialog reads them
};
