#include "xlsxexport.h"

#include "journal.h"

#include "workbookcheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <optional>
#include <xlsxwriter.h>

namespace {
enum class Kind
{
    Time,
    Number,
    Text
};

using Row = JournalReader::Row;

// A column's title, kind and value: text for the text columns (and for the
// widths), a number for the number columns.
struct Column
{
    Journal::Column title;
    Kind kind;
    QString (*text)(const Row &row);
    std::optional<double> (*number)(const Row &row);
};

std::optional<double> noNumber(const Row &)
{
    return std::nullopt;
}
QString noText(const Row &)
{
    return QString();
}

const Column columns[] = {
    {Journal::ColumnTime, Kind::Time, noText, noNumber},
    {Journal::ColumnBench, Kind::Text, [](const Row &r) { return r.bench; }, noNumber},
    {Journal::ColumnSocket, Kind::Number,
     [](const Row &r) { return r.socket ? QString::number(*r.socket) : QString(); },
     [](const Row &r) { return r.socket ? std::optional<double>(*r.socket) : std::nullopt; }},
    {Journal::ColumnPort, Kind::Text, [](const Row &r) { return r.port; }, noNumber},
    {Journal::ColumnSerialNumber, Kind::Text, [](const Row &r) { return r.serialNumber; },
     noNumber},
    {Journal::ColumnImei, Kind::Text, [](const Row &r) { return r.imei; }, noNumber},
    {Journal::ColumnJob, Kind::Text, [](const Row &r) { return r.job; }, noNumber},
    {Journal::ColumnResult, Kind::Text, [](const Row &r) { return r.result; }, noNumber},
    {Journal::ColumnStep, Kind::Text, [](const Row &r) { return r.step; }, noNumber},
    {Journal::ColumnText, Kind::Text, [](const Row &r) { return r.text; }, noNumber},
    {Journal::ColumnSeconds, Kind::Number,
     [](const Row &r) { return r.seconds ? QString::number(*r.seconds) : QString(); },
     [](const Row &r) { return r.seconds; }},
    {Journal::ColumnVersion, Kind::Text, [](const Row &r) { return r.version; }, noNumber},
    {Journal::ColumnSettingsFile, Kind::Text, [](const Row &r) { return r.settingsName; },
     noNumber},
    {Journal::ColumnTableRow, Kind::Number,
     [](const Row &r) { return r.tableRow ? QString::number(*r.tableRow) : QString(); },
     [](const Row &r) { return r.tableRow ? std::optional<double>(*r.tableRow) : std::nullopt; }},
    {Journal::ColumnSettingsHash, Kind::Text, [](const Row &r) { return r.settingsSha256; },
     noNumber},
    {Journal::ColumnFileHashes, Kind::Text, [](const Row &r) { return r.fileHashes; }, noNumber},
    {Journal::ColumnRecordId, Kind::Text, [](const Row &r) { return r.recordId; }, noNumber},
};
constexpr int columnCount = int(sizeof(columns) / sizeof(columns[0]));
const char sheetName[] = "Журнал";
const char timeFormat[] = "dd.mm.yyyy hh:mm:ss";
constexpr double timeWidth = 20;
constexpr double filterButtonWidth = 3; // the header's filter button covers its text's end
constexpr double maxWidth = 60;
constexpr int maxCellChars = 32767; // what a cell holds
constexpr qint64 copyChunk = qint64(1) << 20;
constexpr qint64 nearlyFull = qint64(4) << 20; // a disk with less left than this is full

// Wide enough for the longest value (and the header with its filter button),
// never wider than a screen's share.
double widthOf(const QList<Row> &rows, int column)
{
    if (columns[column].kind == Kind::Time)
        return timeWidth;
    int widest = Journal::columnName(columns[column].title).size() + int(filterButtonWidth);
    for (const Row &row : rows)
        widest = qMax(widest, columns[column].text(row).size());
    return qMin(double(widest + 1), maxWidth);
}

// A path as the library's fopen() takes it: the system's 8-bit code page on
// Windows, where a name that code page cannot spell is refused.
std::optional<QByteArray> libraryPath(const QString &path)
{
#ifdef Q_OS_WIN
    const QString native = QDir::toNativeSeparators(path);
    const QByteArray local = native.toLocal8Bit();
    if (QString::fromLocal8Bit(local) != native)
        return std::nullopt;
    return local;
#else
    return QFile::encodeName(path);
#endif
}

bool diskFull(const QString &folder)
{
    const QStorageInfo storage(folder);
    return storage.isValid() && storage.bytesAvailable() < nearlyFull;
}

// The one sheet, written row by row as the library's memory-saving mode wants.
class Sheet
{
public:
    explicit Sheet(lxw_workbook *book) : mSheet(workbook_add_worksheet(book, sheetName))
    {
        mHeader = workbook_add_format(book);
        format_set_bold(mHeader);
        mTime = workbook_add_format(book);
        format_set_num_format(mTime, timeFormat);
        mText = workbook_add_format(book);
        format_set_num_format(mText, "@"); // a value typed over it stays text too
    }
    lxw_error write(const QList<Row> &rows);

private:
    lxw_error writeCell(lxw_row_t at, int column, const Row &row);
    lxw_error writeText(lxw_row_t at, int column, const QString &text, lxw_format *format);

    lxw_worksheet *mSheet;
    lxw_format *mHeader;
    lxw_format *mTime;
    lxw_format *mText;
};

lxw_error Sheet::write(const QList<Row> &rows)
{
    if (!mSheet)
        return LXW_ERROR_MEMORY_MALLOC_FAILED;
    // Column widths and panes go first: the sheet is written row by row.
    for (int c = 0; c < columnCount; ++c) {
        lxw_format *format = columns[c].kind == Kind::Text ? mText : nullptr;
        if (const lxw_error e =
                worksheet_set_column(mSheet, lxw_col_t(c), lxw_col_t(c), widthOf(rows, c), format))
            return e;
    }
    worksheet_freeze_panes(mSheet, 1, 0);
    for (int c = 0; c < columnCount; ++c) {
        if (const lxw_error e = writeText(0, c, Journal::columnName(columns[c].title), mHeader))
            return e;
    }
    const lxw_row_t last = lxw_row_t(qMax(rows.size(), 1));
    if (const lxw_error e = worksheet_autofilter(mSheet, 0, 0, last, lxw_col_t(columnCount - 1)))
        return e;
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < columnCount; ++c) {
            if (const lxw_error e = writeCell(lxw_row_t(r + 1), c, rows.at(r)))
                return e;
        }
    }
    return LXW_NO_ERROR;
}

lxw_error Sheet::writeCell(lxw_row_t at, int column, const Row &row)
{
    const lxw_col_t col = lxw_col_t(column);
    switch (columns[column].kind) {
    case Kind::Time: {
        const QDate d = row.time.date();
        const QTime t = row.time.time();
        lxw_datetime when{d.year(), d.month(), d.day(), t.hour(), t.minute(), double(t.second())};
        return worksheet_write_datetime(mSheet, at, col, &when, mTime);
    }
    case Kind::Number: {
        const std::optional<double> number = columns[column].number(row);
        return number ? worksheet_write_number(mSheet, at, col, *number, nullptr) : LXW_NO_ERROR;
    }
    case Kind::Text:
        return writeText(at, column, columns[column].text(row), mText);
    }
    return LXW_NO_ERROR;
}

// Always a string cell, even for "=…": the sheet holds no formula.
lxw_error Sheet::writeText(lxw_row_t at, int column, const QString &text, lxw_format *format)
{
    if (text.isEmpty())
        return LXW_NO_ERROR;
    const QByteArray bytes = text.left(maxCellChars).toUtf8();
    return worksheet_write_string(mSheet, at, lxw_col_t(column), bytes.constData(), format);
}

// The library writes into a file of its own under a name fopen() can take:
// in the system's temporary folder, else beside the target.
std::optional<QString> scratchFile(const QString &target, QTemporaryFile *scratch)
{
    for (const QString &folder : {QDir::tempPath(), QFileInfo(target).absolutePath()}) {
        scratch->setFileTemplate(QDir(folder).filePath(QStringLiteral("lorta-export-XXXXXX.xlsx")));
        if (libraryPath(folder) && scratch->open()) {
            scratch->close();
            return scratch->fileName();
        }
    }
    return std::nullopt;
}

QString writeFailure(const QString &fileName, const QString &folder, lxw_error code)
{
    if (diskFull(folder))
        return QStringLiteral("Не удалось записать файл ") + fileName +
               QStringLiteral(": на диске нет места. Освободите место и повторите экспорт.");
    return QStringLiteral("Не удалось записать файл ") + fileName +
           QStringLiteral(" (ошибка библиотеки xlsx, код %1). Повторите экспорт в другую папку.")
               .arg(int(code));
}

// The finished workbook into its place in one step: an earlier file there is
// replaced whole or not at all.
bool copyInto(const QString &from, const QString &fileName, QString *error)
{
    const QString folder = QFileInfo(fileName).absolutePath();
    QFile source(from);
    QSaveFile target(fileName);
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Не удалось создать файл ") + fileName +
                 QStringLiteral(": нет прав на запись в папку ") +
                 QDir::toNativeSeparators(folder) + QStringLiteral(". Выберите другую папку.");
        return false;
    }
    bool written = true;
    while (written && !source.atEnd()) {
        const QByteArray chunk = source.read(copyChunk);
        written = !chunk.isEmpty() && target.write(chunk) == chunk.size();
    }
    if (written && source.error() == QFileDevice::NoError && target.commit())
        return true;
    target.cancelWriting();
    *error = diskFull(folder)
                 ? QStringLiteral("Не удалось записать файл ") + fileName +
                       QStringLiteral(": на диске нет места. Освободите место и повторите экспорт.")
                 : QStringLiteral("Не удалось записать файл ") + fileName +
                       QStringLiteral(": он открыт в другой программе или защищён от записи. "
                                      "Закройте его и повторите экспорт.");
    return false;
}
} // namespace

bool XlsxExport::write(const QString &fileName, const QList<Row> &rows, QString *error)
{
    const QFileInfo info(fileName);
    if (info.isDir()) {
        *error = fileName + QStringLiteral(" — папка. Укажите имя файла .xlsx.");
        return false;
    }
    if (!QFileInfo(info.absolutePath()).isDir()) {
        *error = QStringLiteral("Не удалось создать файл ") + fileName +
                 QStringLiteral(": папки ") + QDir::toNativeSeparators(info.absolutePath()) +
                 QStringLiteral(" нет. Выберите существующую папку.");
        return false;
    }
    if (rows.size() > maxRows) {
        *error = QStringLiteral("В файл ") + fileName +
                 QStringLiteral(" не помещаются %1 записей: на листе Excel их не больше %2. "
                                "Выберите меньше дней.")
                     .arg(rows.size())
                     .arg(maxRows);
        return false;
    }
    QTemporaryFile scratch;
    const std::optional<QString> scratchName = scratchFile(fileName, &scratch);
    if (!scratchName) {
        *error = QStringLiteral("Не удалось создать файл ") + fileName +
                 QStringLiteral(": нет временной папки, доступной для записи. Освободите место "
                                "на диске и повторите экспорт.");
        return false;
    }
    const QString scratchFolder = QFileInfo(*scratchName).absolutePath();
    QByteArray tmpdir = *libraryPath(scratchFolder);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to a file as they come, not into memory
    options.tmpdir = tmpdir.data();
    lxw_workbook *book = workbook_new_opt(libraryPath(*scratchName)->constData(), &options);
    if (!book) {
        *error = writeFailure(fileName, scratchFolder, LXW_ERROR_CREATING_TMPFILE);
        return false;
    }
    const lxw_error written = Sheet(book).write(rows);
    const lxw_error closed = workbook_close(book); // frees the book whatever happened
    if (written != LXW_NO_ERROR || closed != LXW_NO_ERROR) {
        *error = writeFailure(fileName, scratchFolder, written != LXW_NO_ERROR ? written : closed);
        return false;
    }
    if (!WorkbookCheck::complete(*scratchName)) {
        *error = QStringLiteral("Не удалось записать файл ") + fileName +
                 QStringLiteral(": таблица во временной папке ") +
                 QDir::toNativeSeparators(scratchFolder) +
                 QStringLiteral(" записалась не полностью, обычно из-за нехватки места на диске. "
                                "Освободите место и повторите экспорт.");
        return false;
    }
    return copyInto(*scratchName, fileName, error);
}
