#include "line/provisiontable.h"

#include "line/imeiparser.h"
#include "protocol/modemfiles.h"
#include "settings/settingsfile.h"
#include "settings/smallfile.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

// A row is under 200 bytes: a table this large is some other file, and
// reading it whole would only fill memory.
constexpr qint64 maxTableBytes = 16 * 1024 * 1024;
constexpr int imeiLength = 15;
constexpr QLatin1Char fieldSeparator(';');
constexpr QLatin1Char quote('"');
constexpr char utf8Bom[] = "\xEF\xBB\xBF";

QString tableFault(const QString &fileName, const QString &text)
{
    return QStringLiteral("Таблица настроек %1: %2").arg(fileName, text);
}

QString lineFault(int line, const QString &text)
{
    return QStringLiteral("строка %1: %2").arg(line).arg(text);
}

QString quoted(const QString &text)
{
    return QStringLiteral("«%1»").arg(text);
}

QByteArray composeFor(const QHash<QString, QString> &base, const QHash<QString, QString> &values)
{
    QHash<QString, QString> all = base;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        all.insert(it.key(), it.value());
    return composeSettings(all).join(QLatin1String("\r\n")).toUtf8();
}

// The file's lines without their line ends. The empty piece after the last
// line break is no line: a file saved by Excel ends with one.
QList<QByteArray> splitLines(QByteArray bytes)
{
    if (bytes.startsWith(utf8Bom))
        bytes.remove(0, int(sizeof utf8Bom) - 1);
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() > 1 && lines.constLast().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

// All of the bytes: QString::fromUtf8(QByteArray) would stop at a zero byte
// and so hide it from the check for control characters.
QString decoded(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

// Bytes that are not UTF-8 decode to U+FFFD and so do not encode back to
// themselves; a real U+FFFD in the file does.
bool isUtf8(const QByteArray &bytes)
{
    return decoded(bytes).toUtf8() == bytes;
}

// A field in quotes from its opening quote on, with "" for a quote; i ends
// past the closing quote. False when the line ends inside the quotes.
bool readQuoted(const QString &line, int *i, QString *field)
{
    for (++*i; *i < line.size(); ++*i) {
        if (line.at(*i) != quote) {
            *field += line.at(*i);
        } else if (*i + 1 < line.size() && line.at(*i + 1) == quote) {
            *field += quote;
            ++*i;
        } else {
            ++*i;
            return true;
        }
    }
    return false;
}

// The line's fields as Excel reads them: a field that starts with a quote is
// quoted, any other runs to the next ";" as it is. fault: why the line is no
// row of fields.
QStringList splitFields(const QString &line, QString *fault)
{
    QStringList fields;
    for (int i = 0;; ++i) {
        QString field;
        if (i < line.size() && line.at(i) == quote) {
            if (!readQuoted(line, &i, &field)) {
                *fault = QStringLiteral("кавычка не закрыта до конца строки; перевод строки "
                                        "внутри значения не допускается");
                return {};
            }
            if (i < line.size() && line.at(i) != fieldSeparator) {
                *fault = QStringLiteral("после закрывающей кавычки значения стоит текст; "
                                        "кавычку внутри значения пишут двумя кавычками");
                return {};
            }
        } else {
            const int next = line.indexOf(fieldSeparator, i);
            const int end = next < 0 ? line.size() : next;
            field = line.mid(i, end - i);
            i = end;
        }
        fields << field;
        if (i >= line.size())
            return fields;
    }
}

QString knownColumns()
{
    return (ProvisionTable::settableKeys() << ProvisionTable::imeiColumn())
        .join(QLatin1String(", "));
}

QString unknownColumnFault(int column, const QString &name)
{
    if (name == SettingsKey::DebugSer)
        return QStringLiteral("столбец DEBUG_SER таблицей не задаётся: программа всегда пишет 0");
    // Excel with other regional settings puts "," between fields, "Unicode text" a tab.
    if (name.contains(QLatin1Char(',')) || name.contains(QLatin1Char('\t')))
        return QStringLiteral("в заголовке запятая или табуляция, а столбцы разделяются точкой "
                              "с запятой: сохраните таблицу в Excel как «CSV UTF-8»");
    if (hasControlCharacter(name))
        return QStringLiteral("в имени столбца %1 управляющий символ").arg(column);
    return QStringLiteral("неизвестный столбец %1; столбцы могут называться так: %2")
        .arg(quoted(name), knownColumns());
}

// Why the header's names make no table; empty when they do.
QString headerFault(const QStringList &names)
{
    if (names.size() == 1 && names.constFirst().isEmpty())
        return QStringLiteral("первая строка пуста, а в ней должны быть имена столбцов");
    const QStringList settable = ProvisionTable::settableKeys();
    for (int i = 0; i < names.size(); ++i) {
        const QString &name = names.at(i);
        if (name.isEmpty())
            return QStringLiteral("у столбца %1 нет имени").arg(i + 1);
        if (!settable.contains(name) && name != ProvisionTable::imeiColumn())
            return unknownColumnFault(i + 1, name);
        if (names.indexOf(name) < i)
            return QStringLiteral("столбец %1 повторяется").arg(quoted(name));
    }
    if (std::none_of(names.cbegin(), names.cend(),
                     [&settable](const QString &name) { return settable.contains(name); }))
        return QStringLiteral("в заголовке нет ни одного столбца настроек (%1)")
            .arg(settable.join(QLatin1String(", ")));
    return QString();
}

bool isListedSpeed(const QString &value)
{
    const QList<int> &speeds = ModemLine::speeds();
    return std::any_of(speeds.cbegin(), speeds.cend(),
                       [&value](int speed) { return QString::number(speed) == value; });
}

QString listedSpeeds()
{
    QStringList texts;
    for (int speed : ModemLine::speeds())
        texts << QString::number(speed);
    return texts.join(QLatin1String(", "));
}

// Why a cell's value cannot go into the settings file; empty when it can. A
// value ending in ":" would run into the "::" after it, and the file would be
// read back with another value. CRYPT_DATA and SER_SP take only what the
// dialog can write.
QString valueFault(const QString &key, const QString &value)
{
    const QString column = QStringLiteral("значение столбца %1 ").arg(key);
    if (value.contains(SettingsFieldSeparator))
        return column + QStringLiteral("содержит «::»");
    if (value.endsWith(QLatin1Char(':')))
        return column +
               QStringLiteral("оканчивается двоеточием, а за ним в файле настроек идёт «::»");
    if (hasControlCharacter(value))
        return column + QStringLiteral("содержит управляющий символ");
    if (key == SettingsKey::CryptData && value != QLatin1String("0") && value != QLatin1String("1"))
        return column + QStringLiteral("%1: должно быть 0 или 1").arg(quoted(value));
    if (key == SettingsKey::SerSp && !isListedSpeed(value))
        return column + QStringLiteral("%1: должна быть одна из скоростей %2")
                            .arg(quoted(value), listedSpeeds());
    return QString();
}

bool isAsciiDigits(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

// Why the text is no IMEI; empty when it is one.
QString imeiFault(const QString &imei)
{
    // Excel shows a long number in a cell of the general format as "3,56938E+14",
    // and saves it so: the digits are lost.
    static const QRegularExpression excelNumber(QStringLiteral("^\\d+([.,]\\d+)?[eE][+-]?\\d+$"));
    if (excelNumber.match(imei).hasMatch())
        return QStringLiteral("IMEI %1 сохранён Excel как число и его цифры потеряны: задайте "
                              "столбцу IMEI текстовый формат и введите номера заново")
            .arg(quoted(imei));
    if (imei.size() != imeiLength || !isAsciiDigits(imei))
        return QStringLiteral("IMEI %1 должен состоять из 15 цифр").arg(quoted(imei));
    if (!ImeiParser::luhnValid(imei.toLatin1()))
        return QStringLiteral("в IMEI %1 неверна контрольная (последняя) цифра").arg(imei);
    return QString();
}

// Reads the rows under a checked header, one line at a time.
class RowReader
{
public:
    RowReader(const QStringList &columns, const QHash<QString, QString> &base)
        : mListColumns(columns), mHashBase(base)
    {
    }

    // The row's fault; empty when the row is read.
    QString read(const QString &text, int line, ProvisionTable::Row *row)
    {
        QString fault;
        const QStringList fields = splitFields(text, &fault);
        if (!fault.isEmpty())
            return fault;
        if (fields.size() > mListColumns.size())
            return QStringLiteral("значений (%1) больше, чем столбцов в заголовке (%2)")
                .arg(fields.size())
                .arg(mListColumns.size());
        row->line = line;
        for (int i = 0; i < fields.size() && fault.isEmpty(); ++i)
            fault = readCell(mListColumns.at(i), fields.at(i), row);
        return fault.isEmpty() ? wholeRowFault(*row) : fault;
    }

private:
    // A row that sets nothing is a mistake in the table, not a modem to leave as it is.
    QString wholeRowFault(const ProvisionTable::Row &row) const
    {
        if (row.values.isEmpty())
            return QStringLiteral("в строке не задано ни одно значение настроек");
        const int size = composeFor(mHashBase, row.values).size();
        if (size > maxSettingsFileBytes)
            return QStringLiteral("значения слишком длинные: файл настроек занял бы %1 байт, "
                                  "а больше %2 быть не может")
                .arg(size)
                .arg(maxSettingsFileBytes);
        return QString();
    }

    QString readCell(const QString &column, const QString &cell, ProvisionTable::Row *row)
    {
        if (column == ProvisionTable::imeiColumn())
            return readImei(cell.trimmed(), row);
        if (cell.isEmpty())
            return QString();
        row->values.insert(column, cell);
        return valueFault(column, cell);
    }

    QString readImei(const QString &imei, ProvisionTable::Row *row)
    {
        if (imei.isEmpty())
            return QString();
        const QString fault = imeiFault(imei);
        if (!fault.isEmpty())
            return fault;
        const int earlier = mHashImeiLines.value(imei);
        if (earlier > 0)
            return QStringLiteral("IMEI %1 уже есть в строке %2").arg(imei).arg(earlier);
        mHashImeiLines.insert(imei, row->line);
        row->imei = imei;
        return QString();
    }

    const QStringList mListColumns;
    const QHash<QString, QString> &mHashBase;
    QHash<QString, int> mHashImeiLines; // the line each IMEI is bound on
};

QString fileFault(const QString &fileName, const SmallFile &file)
{
    if (file.status == SmallFile::Status::TooLarge)
        return tableFault(fileName, QStringLiteral("файл больше 16 МБ, это не таблица настроек; "
                                                   "выберите другой файл"));
    if (!file.problem.isEmpty())
        return QStringLiteral("Таблица настроек не прочитана: %1").arg(file.problem);
    if (!QFileInfo::exists(fileName))
        return tableFault(fileName, QStringLiteral("файл не найден; выберите другой файл"));
    return tableFault(fileName, QStringLiteral("это не файл (папка или устройство); выберите "
                                               "файл CSV"));
}

} // namespace

bool ProvisionTable::load(const QString &fileName, const QStringList &base, QString *error)
{
    const SmallFile file = readSmallFile(fileName, maxTableBytes);
    if (!file.isRead()) {
        mFileName = fileName;
        mListRows.clear();
        if (error)
            *error = fileFault(fileName, file);
        return false;
    }
    return parse(file.bytes, fileName, base, error);
}

bool ProvisionTable::parse(const QByteArray &bytes, const QString &fileName,
                           const QStringList &base, QString *error)
{
    mFileName = fileName;
    mListRows.clear();
    mHashBase = settingsAsDialogReads(base);
    if (bytes.size() > maxTableBytes) {
        if (error)
            *error = fileFault(fileName, SmallFile(SmallFile::Status::TooLarge));
        return false;
    }
    if (bytes.isEmpty() || bytes == utf8Bom)
        return refuse(lineFault(1, QStringLiteral("файл пуст, а в первой строке должны быть "
                                                  "имена столбцов")),
                      error);
    return refuse(readLines(splitLines(bytes)), error);
}

bool ProvisionTable::refuse(const QString &fault, QString *error)
{
    if (fault.isEmpty())
        return true;
    mListRows.clear();
    if (error)
        *error = QStringLiteral("Таблица настроек %1, %2").arg(mFileName, fault);
    return false;
}

QString ProvisionTable::readLines(const QList<QByteArray> &lines)
{
    // A file in another encoding is wrong as a whole, whatever else a line
    // before its first foreign byte holds: that is said first.
    for (int i = 0; i < lines.size(); ++i) {
        if (!isUtf8(lines.at(i)))
            return lineFault(i + 1, QStringLiteral("текст не в кодировке UTF-8; сохраните "
                                                   "таблицу в Excel как «CSV UTF-8»"));
    }
    QString fault;
    QStringList columns = splitFields(decoded(lines.constFirst()), &fault);
    for (QString &name : columns)
        name = name.trimmed();
    if (fault.isEmpty())
        fault = headerFault(columns);
    if (!fault.isEmpty())
        return lineFault(1, fault);
    RowReader reader(columns, mHashBase);
    for (int i = 1; i < lines.size(); ++i) {
        Row row;
        fault = reader.read(decoded(lines.at(i)), i + 1, &row);
        if (!fault.isEmpty())
            return lineFault(i + 1, fault);
        mListRows << row;
    }
    if (mListRows.isEmpty())
        return lineFault(2, QStringLiteral("под заголовком нет ни одной строки настроек"));
    return QString();
}

QByteArray ProvisionTable::settingsFor(const Row &row) const
{
    return composeFor(mHashBase, row.values);
}

QByteArray ProvisionTable::settingsOver(const QStringList &base,
                                        const QHash<QString, QString> &values)
{
    return composeFor(settingsAsDialogReads(base), values);
}

QStringList ProvisionTable::settableKeys()
{
    return {SettingsKey::Pin,        SettingsKey::Apn,    SettingsKey::GprsUser,
            SettingsKey::GprsPasswd, SettingsKey::DestIp, SettingsKey::DestPort,
            SettingsKey::CryptData,  SettingsKey::SerSp};
}
