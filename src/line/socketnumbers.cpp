#include "socketnumbers.h"

#include "protocol/modemtext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStringList>
#include <algorithm>

namespace {
constexpr qint64 maxFileSize = 1 << 20; // thousands of sockets; anything bigger is not ours
constexpr int maxLineLength = 256;

QString shown(const QString &text)
{
    return printablePart(text, 60);
}
} // namespace

QString SocketNumbers::fileBeside(const QString &journalFile)
{
    const QFileInfo info(journalFile);
    const QString name = info.completeBaseName() + QStringLiteral(".sockets");
    return info.path() == QLatin1String(".") && !journalFile.startsWith(QLatin1String("./"))
               ? name
               : info.dir().filePath(name);
}

bool SocketNumbers::load(const QString &fileName, QString *error)
{
    mFileName = fileName;
    mNumbers.clear();
    mLast = 0;
    QFile file(fileName);
    if (!file.exists())
        return true;
    QString problem;
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        problem = QStringLiteral("не удалось прочитать");
    else if (file.size() > maxFileSize)
        problem = QStringLiteral("больше 1 МБ: это не файл номеров");
    QHash<int, int> lineOfNumber;
    QHash<QString, int> lineOfKey;
    const QStringList lines = problem.isEmpty()
                                  ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))
                                  : QStringList();
    for (int i = 0; i < lines.size() && problem.isEmpty(); ++i)
        problem = lineProblem(lines.at(i), i + 1, lineOfNumber, lineOfKey);
    if (problem.isEmpty())
        return true;
    mNumbers.clear();
    mLast = 0;
    if (error)
        *error = QStringLiteral("Файл номеров гнёзд ") + fileName + QStringLiteral(": ") + problem +
                 QStringLiteral(". Исправьте файл (одна строка «номер;позиция», номера от 1 до "
                                "9999, каждый номер и каждая позиция один раз) или удалите его: "
                                "гнёзда будут пронумерованы заново");
    return false;
}

// One line of the file taken into the numbers; what is wrong with it, or an empty string.
QString SocketNumbers::lineProblem(const QString &raw, int lineNumber,
                                   QHash<int, int> &lineOfNumber, QHash<QString, int> &lineOfKey)
{
    const QString at = QStringLiteral("строка %1: ").arg(lineNumber);
    if (raw.size() > maxLineLength)
        return at + QStringLiteral("длиннее %1 знаков").arg(maxLineLength);
    const QString line = raw.trimmed();
    if (line.isEmpty())
        return QString();
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9]+)\\s*;\\s*(\\S.*)$"));
    const QRegularExpressionMatch match = form.match(line);
    if (!match.hasMatch())
        return at + QStringLiteral("не «номер;позиция»: ") + shown(line);
    const QString digits = match.captured(1);
    const int number = digits.size() <= 4 ? digits.toInt() : 0;
    const QString key = match.captured(2).trimmed();
    if (number < 1 || number > maxNumber)
        return at + QStringLiteral("номер гнезда %1 не от 1 до 9999").arg(match.captured(1));
    if (lineOfNumber.contains(number))
        return at + QStringLiteral("номер %1 уже дан в строке %2")
                        .arg(number)
                        .arg(lineOfNumber.value(number));
    if (lineOfKey.contains(key))
        return at + QStringLiteral("позиция %1 уже названа в строке %2")
                        .arg(shown(key))
                        .arg(lineOfKey.value(key));
    lineOfNumber.insert(number, lineNumber);
    lineOfKey.insert(key, lineNumber);
    mNumbers.insert(key, number);
    mLast = std::max(mLast, number);
    return QString();
}

int SocketNumbers::numberFor(const QString &key, QString *error)
{
    bool added = false;
    const int number = assign(key, &added);
    if (added)
        write(mFileName, contents(), error);
    return number;
}

int SocketNumbers::assign(const QString &key, bool *added)
{
    const auto found = mNumbers.constFind(key);
    *added = found == mNumbers.constEnd();
    if (!*added)
        return found.value();
    const int number = nextFree();
    mNumbers.insert(key, number);
    mLast = std::max(mLast, number);
    return number;
}

bool SocketNumbers::renumber(const QString &key, int number, QString *error)
{
    if (number < 1 || number > maxNumber) {
        *error = QStringLiteral("Номер гнезда должен быть от 1 до %1").arg(maxNumber);
        return false;
    }
    for (auto it = mNumbers.constBegin(); it != mNumbers.constEnd(); ++it) {
        if (it.value() == number && it.key() != key) {
            *error = QStringLiteral("Номер %1 уже у другого гнезда").arg(number);
            return false;
        }
    }
    mNumbers.insert(key, number);
    mLast = std::max(mLast, number);
    return true;
}

// After the highest number given, or once 9999 is reached, the lowest free one.
int SocketNumbers::nextFree() const
{
    if (mLast < maxNumber)
        return mLast + 1;
    QSet<int> used;
    for (const int number : mNumbers)
        used.insert(number);
    int number = 1;
    while (used.contains(number))
        ++number;
    return number;
}

QByteArray SocketNumbers::contents() const
{
    QList<QPair<int, QString>> rows;
    for (auto it = mNumbers.constBegin(); it != mNumbers.constEnd(); ++it)
        rows.append({it.value(), it.key()});
    std::sort(rows.begin(), rows.end());
    QByteArray bytes;
    for (const auto &row : rows)
        bytes += QByteArray::number(row.first) + ';' + row.second.toUtf8() + '\n';
    return bytes;
}

bool SocketNumbers::write(const QString &fileName, const QByteArray &bytes, QString *error)
{
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("Не удалось сохранить номера гнёзд в файл ") + fileName;
    return false;
}
