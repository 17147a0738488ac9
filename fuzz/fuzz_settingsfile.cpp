// The settings file reader on arbitrary file contents, and the dialog's save of what it read:
// the lines joined again give the file's text, keys and values hold no separator, and a save
// read back gives the same lines and values (except a value ending in ":", which the "::"
// format cannot keep).
#include "harness.h"
#include "serial/modemtext.h"
#include "settings/settingsfile.h"

#include <QFile>

using Fuzz::require;

namespace {

// The template's keys and their values from the fields, the last one of a key winning.
QHash<QString, QString> appliedValues(const QList<QPair<QString, QString>> &fields)
{
    static const QStringList keys{"CRYPT_DATA",  "DEBUG_SER", "PIN",       "APN",   "GPRS_USER",
                                  "GPRS_PASSWD", "DEST_IP",   "DEST_PORT", "SER_SP"};
    QHash<QString, QString> values;
    for (const auto &[key, value] : fields) {
        if (keys.contains(key))
            values.insert(key, value);
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QDir dir(Fuzz::workDir());
    const QByteArray content(reinterpret_cast<const char *>(data), int(size));
    QFile file(dir.filePath("settings.ini"));
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(content) == content.size(),
            "the input file is written");
    file.close();
    const QStringList lines = readSettingsLines(file.fileName());
    require(lines.join("\r\n") == textUpToZero(content), "the lines joined are the file's text");
    const QList<QPair<QString, QString>> fields = settingsFields(lines);
    for (const auto &[key, value] : fields)
        require(!key.contains("::") && !value.contains("::"), "keys and values hold no separator");

    const QHash<QString, QString> values = appliedValues(fields);
    const QString saved = dir.filePath("saved.ini");
    const QStringList composed = composeSettings(values);
    require(composed.size() == 9 && writeLinesToFile(saved, composed),
            "a save has the template's nine lines and succeeds in a writable folder");
    require(readSettingsLines(saved) == composed, "a saved file reads back line for line");
    const QHash<QString, QString> reread = appliedValues(settingsFields(composed));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        require(it.value().endsWith(':') || reread.value(it.key()) == it.value(),
                "a saved value reads back unchanged");
    return 0;
}
