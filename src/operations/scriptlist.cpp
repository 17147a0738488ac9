#include "scriptlist.h"

#include "protocol/modemtext.h"

#include <algorithm>

QStringList parseScriptList(const QByteArray &answer)
{
    const QString filePrefix = QStringLiteral("#LSCRIPT: \"");
    const QStringList lines = textUpToZero(answer).split(QStringLiteral("\r\n"));
    QStringList names;
    for (const QString &line : lines) {
        if (!line.startsWith(filePrefix))
            continue;
        const QString rest = line.mid(filePrefix.size());
        const int quote = rest.indexOf(QLatin1Char('"'));
        names.append(quote < 0 ? rest : rest.left(quote));
    }
    return names;
}
