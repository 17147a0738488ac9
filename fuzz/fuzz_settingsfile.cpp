// The settings file reader on arbitrary file contents (a file over the size limit is not
// read), and the dialog's save of what it read:
// the lines joined again give the file's text, keys and values hold no separator, and a save
// read back gives the same lines and values (except a value ending in ":", which the "::"
// format cannot keep).
#include "harness.h"
#include "protocol/modemtext.h"
#include "settings/settingsfile.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content = Fuzz::bytes(data, size);
    QFile file(Fuzz::workDir().filePath("settings.ini"));
    Fuzz::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                      file.write(content) == content.size() && file.flush(),
                  "the input file is written");
    const QStringList lines = readSettingsLines(file.fileName());
    Fuzz::require(content.size() > maxSettingsFileBytes
                      ? lines == defaultSettings()
                      : lines.join("\r\n") == textUpToZero(content),
                  "the lines joined are the file's text; a file over the limit gives the template");
    QHash<QString, QString> values; // the last value of a key wins
    for (const auto &[key, value] : settingsFields(lines)) {
        Fuzz::require(!key.contains("::") && !value.contains("::"),
                      "keys and values hold no separator");
        values.insert(key, value);
    }
    const QString saved = Fuzz::workDir().filePath("saved.ini");
    const QStringList composed = composeSettings(values);
    Fuzz::require(composed.size() == 9 && writeLinesToFile(saved, composed) &&
                      readSettingsLines(saved) == composed,
                  "a save has the template's nine lines, succeeds in a writable folder and reads "
                  "back line for line");
    for (const auto &[key, value] : settingsFields(composed))
        Fuzz::require(!values.contains(key) || values[key].endsWith(':') || values[key] == value,
                      "a saved value reads back unchanged");
    return 0;
}
