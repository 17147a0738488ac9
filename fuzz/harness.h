#pragma once

// Shared by the fuzz targets: the input's pieces, the rule check that stops a run, and a
// driver that feeds a job's step machine arbitrary answers.

#include "operations/jobaction.h"
#include "operations/scriptlist.h"
#include "serial/modemcommands.h"

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace Fuzz {

// Stops the run; libFuzzer keeps the input that got here as a crash.
inline void require(bool holds, const char *rule)
{
    if (!holds) {
        std::fprintf(stderr, "broken rule: %s\n", rule);
        std::abort();
    }
}

// The pieces of one input (answers, or a text and a line), split at the ASCII record
// separator, a byte no modem answer or settings line is expected to carry.
inline QList<QByteArray> pieces(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size)).split('\x1e');
}

// A folder for the whole run, in memory where the system offers it.
inline QString workDir()
{
    static const QTemporaryDir dir(QDir("/dev/shm").exists()
                                       ? "/dev/shm/lorta-fuzz-XXXXXX"
                                       : QDir::tempPath() + "/lorta-fuzz-XXXXXX");
    return dir.path();
}

// A command as the modem must see it: ends in "\r" and holds no other control byte, so it
// can never be taken for two commands or carry a stray line end.
inline bool isCleanCommand(const QByteArray &command)
{
    return command.endsWith('\r') && std::none_of(command.cbegin(), command.cend() - 1, [](char c) {
               return uchar(c) < 32 || uchar(c) == 127;
           });
}

// What a job run has sent so far, for the target's own rules.
struct Seen
{
    QByteArray last = ModemCommands::unselectScript(); // the caller sends the first command
    bool listed = false;                               // the listing was answered
    QList<QByteArray> written;                         // files whose bytes went out, in order
};

// Feeds a started job the answers, then silence until it ends, then one stray answer, and
// checks what holds whatever the modem says: one action per answer and nothing after the
// end; every command is a fixed one, a delete of a listed name the job may delete, or the
// write command of one of `files` with its real size; file bytes go out only after a prompt
// answer to their own write command; a success needs "OK"; once the modem stops saying
// "OK", the job ends by the 16th answer. `check` sees every action before the end.
template <typename Job>
void drive(Job &job, const QList<QByteArray> &answers, const QList<QByteArray> &fixed,
           const QHash<QByteArray, QByteArray> &files,
           const std::function<bool(const QString &)> &mayDelete,
           const std::function<void(const JobAction &, const Seen &)> &check)
{
    Seen seen;
    QStringList listed;
    int withoutOk = 0;
    const auto writeCommand = [&files](const QByteArray &name) {
        return "at#wscript=\"" + name + "\"," + QByteArray::number(files.value(name).size()) +
               (name == "settings.ini" ? "\r" : ",1\r");
    };
    for (int i = 0; !job.finished(); ++i) {
        require(i < answers.size() + 16, "a job ends once the modem falls silent");
        const QByteArray answer = answers.value(i);
        withoutOk = answer.contains("OK") ? 0 : withoutOk + 1;
        if (seen.last == ModemCommands::listScripts())
            listed = parseScriptList(answer);
        seen.listed = seen.listed || seen.last == ModemCommands::listScripts();
        const JobAction action = job.onAnswer(answer);
        require(action.isEnd() == job.finished(), "a job has ended exactly when it says so");
        check(action, seen);
        const QByteArray &command = action.command;
        if (action.isEnd()) {
            require(command.isEmpty() && (action.kind == JobAction::Kind::Fail || withoutOk == 0),
                    "an end sends nothing, and a success needs an \"OK\"");
            break;
        }
        require(withoutOk < 16, "a job ends by the 16th answer in a row without \"OK\"");
        const QByteArray file = files.key(command);
        const QByteArray quoted = command.mid(12).split('"').value(0); // a written or deleted name
        if (!file.isNull()) {
            require(seen.last == writeCommand(file) && answer.contains(">>>") && withoutOk > 0,
                    "file bytes follow a prompt without \"OK\" to their own write command");
            seen.written << file;
        } else {
            require(isCleanCommand(command), "a command ends in \"\\r\" and has no other control");
            require(fixed.contains(command) ||
                        (files.contains(quoted) && command == writeCommand(quoted)) ||
                        (command == "at#dscript=\"" + quoted + "\"\r" &&
                         listed.removeOne(QString::fromUtf8(quoted)) &&
                         mayDelete(QString::fromUtf8(quoted))),
                    "every command is one of the job's, and deletes only listed names");
        }
        seen.last = command;
    }
    const JobAction stray = job.onAnswer("OK\r\n");
    require(stray.kind == JobAction::Kind::Fail && stray.command.isEmpty(),
            "an ended job sends nothing and reports no success");
}

} // namespace Fuzz
