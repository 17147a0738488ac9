#pragma once

#include "journalreader.h"

#include <QList>
#include <QString>

// Writes journal rows as an Excel workbook: one sheet, the header row frozen
// with a filter over the data, the IMEI and every other field from outside as
// text (never a formula, whatever it starts with), the time a date-time cell,
// the socket and the duration numbers. The workbook is written beside the
// target under a name of its own and put in its place when whole, so a
// failed export leaves an earlier file as it was.
class XlsxExport
{
public:
    // The rows a sheet holds under its header.
    static constexpr int maxRows = 1048575;

    // False with a sentence that names the file and says what to do.
    static bool write(const QString &fileName, const QList<JournalReader::Row> &rows,
                      QString *error);
};
