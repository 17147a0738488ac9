#pragma once

// Shared by the fuzz targets: the input as bytes, the rule check that stops a run, and a
// driver that feeds a job's step machine arbitrary answers.

#include "operations/jobaction.h"
#include "operations/scriptlist.h"
#include "protocol/modemcommands.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <optional>

namespace Fuzz {

// Stops the run (qFatal aborts); libFuzzer keeps the input that got here as a crash.
inline void require(bool holds, const char *rule)
{
    if (!holds)
        qFatal("broken rule: %s", rule);
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// A folder for the whole run, in memory where the system offers it.
inline QDir workDir()
{
    static const QTemporaryDir dir((QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath()) +
                                   "/lorta-fuzz-XXXXXX");
    return QDir(dir.path());
}

// A command as the modem must see it: ends in "\r" and holds no other control byte, so it
// can never be taken for two commands or carry a stray line end.
inline bool isCleanCommand(const QByteArray &command)
{
    static const QRegularExpression clean("^[^\\x00-\\x1f\\x7f]*\\r\\z");
    return clean.match(QString::fromLatin1(command)).hasMatch();
}

// What a job run has sent so far: the last command (the caller sends the first one), and the
// files whose bytes went out, in order.
struct Seen
{
    QByteArray last = ModemCommands::unselectScript();
    QList<QByteArray> written;
};

// Feeds a started job the answers (separated by the ASCII record separator 0x1e), then
// silence until it ends, then one stray answer, and checks what holds whatever the modem
// says: one action per answer and nothing after the end; every command is clean and a fixed
// one, a delete of a listed name the job may delete, or the write command of one of `files`
// with its real size; file bytes go out only after a prompt answer to their own write
// command; a success needs "OK" and comes after the listing and its deletes; once the modem
// stops saying "OK", the job ends by the 16th answer. `check` sees every action.
template <typename Job>
void drive(Job &job, const QByteArray &input, const QList<QByteArray> &fixed,
           const QHash<QByteArray, QByteArray> &files,
           const std::function<bool(const QString &)> &mayDelete,
           const std::function<void(const JobAction &, const Seen &)> &check)
{
    const QList<QByteArray> answers = input.split('\x1e');
    const auto writeCommand = [&files](const QByteArray &name) {
        return "at#wscript=\"" + name + "\"," + QByteArray::number(files.value(name).size()) +
               (name == "settings.ini" ? "\r" : ",1\r");
    };
    Seen seen;
    std::optional<QStringList> listed;
    for (int i = 0, withoutOk = 0; !job.finished(); ++i) {
        require(i < answers.size() + 16, "a job ends once the modem falls silent");
        const QByteArray answer = answers.value(i);
        withoutOk = answer.contains("OK") ? 0 : withoutOk + 1;
        if (seen.last == ModemCommands::listScripts())
            listed = parseScriptList(answer);
        const JobAction action = job.onAnswer(answer);
        const QByteArray &command = action.command;
        const QByteArray name = command.mid(12).split('"').value(0); // a written or deleted name
        require(action.isEnd() == job.finished() && withoutOk < 16 + action.isEnd(),
                "a job has ended exactly when it says so, by the 16th answer without \"OK\"");
        check(action, seen);
        if (action.isEnd()) {
            require(command.isEmpty() &&
                        (action.kind == JobAction::Kind::Fail ||
                         (withoutOk == 0 && listed && seen.last != ModemCommands::listScripts())),
                    "an end sends nothing; a success needs \"OK\" and follows the deletes");
        } else if (!files.key(command).isNull()) {
            seen.written << files.key(command);
            require(seen.last == writeCommand(seen.written.last()) && answer.contains(">>>") &&
                        withoutOk > 0,
                    "file bytes follow a prompt without \"OK\" to their own write command");
        } else {
            require(isCleanCommand(command) &&
                        (fixed.contains(command) ||
                         (files.contains(name) && command == writeCommand(name)) ||
                         (listed && command == "at#dscript=\"" + name + "\"\r" &&
                          listed->removeOne(QString::fromUtf8(name)) &&
                          mayDelete(QString::fromUtf8(name)))),
                    "every command is clean, one of the job's, and deletes only listed names");
        }
        seen.last = command;
    }
    const JobAction stray = job.onAnswer("OK\r\n");
    require(stray.kind == JobAction::Kind::Fail && stray.command.isEmpty(),
            "an ended job sends nothing and reports no success");
}

} // namespace Fuzz
