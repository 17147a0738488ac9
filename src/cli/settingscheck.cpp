#include "settingscheck.h"

#include "serial/modemtext.h"
#include "settings/settingsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {
constexpr qint64 maxSettingsBytes = 16384;
constexpr int fieldsPerLine = 3;

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 32 || c.unicode() == 127)
            return true;
    }
    return false;
}

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

QString settingsFileProblem(const QString &fileName)
{
    const QString notFound = QStringLiteral("Файл ") + fileName + QStringLiteral(" не найден");
    const QFileInfo info(fileName);
    // Checked before opening: a FIFO or a device would block or never end.
    if (!info.isFile())
        return notFound;
    if (info.size() > maxSettingsBytes)
        return QStringLiteral("Файл ") + fileName + QStringLiteral(" слишком большой");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return notFound;
    const QByteArray bytes = file.read(maxSettingsBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return notFound;
    if (bytes.isEmpty())
        return QStringLiteral("Файл ") + fileName + QStringLiteral(" пуст");
    if (bytes.size() > maxSettingsBytes)
        return QStringLiteral("Файл ") + fileName + QStringLiteral(" слишком большой");
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
