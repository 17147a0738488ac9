// The load-settings and flash jobs fed arbitrary answers. Input: one byte that picks the job
// (bit 0: flash) and the local "settings.ini" (bits 1-2: present, empty, missing), then the
// answers separated by 0x1e. Besides the rules of Fuzz::drive: the scripts are started only
// after every file of the job went out whole, and a success answers "at#execscr".
#include "harness.h"
#include "operations/filetransfer.h"
#include "operations/writejob.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool flash = (data[0] & 1) != 0;
    const int settings = (data[0] >> 1) % 3;
    QFile file(Fuzz::workDir().filePath("settings.ini"));
    Fuzz::require(settings == 2
                      ? !file.exists() || file.remove()
                      : file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                            file.write(settings == 0 ? "APN::internet::y\r\nPIN::1::z" : "") >= 0 &&
                            file.flush(),
                  "the local settings file is made");
    const FileSource source{Fuzz::workDir().path()};
    const QStringList scripts{"main.pyo", "config.pyo"};
    QHash<QByteArray, QByteArray> files;
    for (const QByteArray name : {"settings.ini", "main.pyo", "config.pyo"}) {
        if (const SmallFile file = readFileBytes(name, source);
            file.isRead() && (flash || name == "settings.ini"))
            files.insert(name, file.bytes);
    }
    WriteJob job(Timing(), source);
    job.start(flash ? WriteJob::Kind::Flash : WriteJob::Kind::LoadSettings,
              flash ? scripts : QStringList{"settings.ini"});
    const QList<QList<QByteArray>> complete{{"main.pyo", "config.pyo"},
                                            {"settings.ini", "main.pyo", "config.pyo"}};
    Fuzz::drive(
        job, Fuzz::bytes(data + 1, size - 1),
        {ModemCommands::startModeOff(), ModemCommands::restart(), ModemCommands::echoOff(),
         ModemCommands::listScripts(), ModemCommands::startModeOn(), ModemCommands::selectMain(),
         ModemCommands::execScript()},
        files, [flash](const QString &name) { return (name == "settings.ini") != flash; },
        [&](const JobAction &action, const Fuzz::Seen &seen) {
            Fuzz::require(
                job.step() >= 0 && job.step() <= 9 &&
                    (action.command != ModemCommands::startModeOn() ||
                     (flash ? complete.contains(seen.written)
                            : seen.written == QList<QByteArray>{"settings.ini", "settings.ini"})) &&
                    (action.kind != JobAction::Kind::Succeed ||
                     seen.last == ModemCommands::execScript()),
                "the progress stays within 0 to 9, every file went out before the scripts are "
                "started, and a success answers \"at#execscr\"");
        });
    return 0;
}
