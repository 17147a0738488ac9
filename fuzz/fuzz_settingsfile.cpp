// The settings file reader on arbitrary file contents, and the dialog's save
// of what it read: the lines joined again give the file's text, only
// three-field lines yield values, and a save read back gives the same lines and
// values (except a value ending in ":", which the "::" format cannot keep).
#include "fuzzcheck.h"
#include "serial/modemtext.h"
#include "settings/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

using FuzzCheck::require;

namespace {

// One directory for the whole run, in memory when the system offers it.
const QTemporaryDir &workDir()
{
    static const QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                       ? QStringLiteral("/dev/shm/lorta-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/lorta-fuzz-XXXXXX"));
    return dir;
}

QStringList templateKeys()
{
    QStringList keys;
    for (const QString &line : defaultSettings())
        keys.append(line.section(SettingsFieldSeparator, 0, 0));
    return keys;
}

QHash<QString, QString> appliedValues(const QList<QPair<QString, QString>> &fields)
{
    const QStringList keys = templateKeys();
    QHash<QString, QString> values;
    for (const auto &field : fields) {
        if (keys.contains(field.first))
            values.insert(field.first, field.second);
    }
    return values;
}

void checkSaveReadsBack(const QHash<QString, QString> &values)
{
    const QString saved = workDir().filePath(QStringLiteral("saved.ini"));
    const QStringList composed = composeSettings(values);
    require(composed.size() == defaultSettings().size(), "a save has the template's lines");
    require(writeLinesToFile(saved, composed), "a save in a writable directory succeeds");
    const QStringList back = readSettingsLines(saved);
    require(back == composed, "a saved file reads back line for line");
    const QHash<QString, QString> reread = appliedValues(settingsFields(back));
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.value().endsWith(QLatin1Char(':')))
            continue;
        require(reread.value(it.key()) == it.value(), "a saved value reads back unchanged");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    require(workDir().isValid(), "the work directory exists");
    const QByteArray content = FuzzCheck::bytesOf(data, size);
    const QString fileName = workDir().filePath(QStringLiteral("settings.ini"));
    QFile file(fileName);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input file opens");
    require(file.write(content) == content.size(), "the input file is written");
    file.close();

    const QStringList lines = readSettingsLines(fileName);
    require(lines.join(QStringLiteral("\r\n")) == textUpToZero(content),
            "the lines joined by CR LF are the file's text");
    const QList<QPair<QString, QString>> fields = settingsFields(lines);
    require(fields.size() <= lines.size(), "at most one key and value per line");
    for (const auto &field : fields) {
        require(!field.first.contains(SettingsFieldSeparator) &&
                    !field.second.contains(SettingsFieldSeparator),
                "keys and values hold no separator");
    }
    checkSaveReadsBack(appliedValues(fields));
    return 0;
}
