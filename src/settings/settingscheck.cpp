#include "settingscheck.h"

#include "protocol/modemtext.h"
#include "settings/settingsfile.h"

#include <QStringList>

namespace {
constexpr int fieldsPerLine = 3;

QString lineProblem(const QString &fileName, int number, const QString &line)
{
    const QString where = QStringLiteral("Файл %1, строка %2: ").arg(fileName).arg(number);
    if (line.split(SettingsFieldSeparator).size() > fieldsPerLine)
        return where + QStringLiteral("значение содержит \"::\"");
    if (hasControlCharacter(line))
        return where + QStringLiteral("значение содержит управляющий символ");
    return QString();
}
} // namespace

QString settingsContentProblem(const QString &fileName, const SmallFile &read)
{
    const QString file = QStringLiteral("Файл ") + fileName;
    if (read.status == SmallFile::Status::TooLarge)
        return file + QStringLiteral(" слишком большой");
    if (!read.isRead() && !read.problem.isEmpty())
        return read.problem.left(1).toUpper() + read.problem.mid(1);
    if (!read.isRead())
        return file + QStringLiteral(" не найден");
    const QByteArray &bytes = read.bytes;
    if (bytes.isEmpty())
        return file + QStringLiteral(" пуст");
    const QStringList lines = textUpToZero(bytes).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString problem = lineProblem(fileName, i + 1, line);
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}
