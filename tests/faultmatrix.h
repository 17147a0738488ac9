#pragma once

// The fault matrix: what each job must do when the modem misbehaves at one of
// its commands. One table per job; every row is run end to end by FaultRunner
// against the simulated modem, through the real window and worker.
//
// The modem under test holds "main.pyo", "config.pyo" and "settings.ini", in
// this order, and answers "ate0" at once after its restart. So a healthy run of
//   flash sends    at#escript=""  at#startmodescr=0  at#enhrst=1,0  ate0  at#lscript
//                  at#dscript="main.pyo"  at#dscript="config.pyo"
//                  at#wscript="main.pyo",…  [bytes]  at#wscript="config.pyo",…  [bytes]
//                  at#startmodescr=1,10  at#escript="main.pyo"  at#execscr
//   load settings  the same opening, at#dscript="settings.ini", then
//                  at#wscript="settings.ini",…  [bytes] twice, and the same three last commands
//   read settings  at#rscript="settings.ini"
//   clear          the same opening, then at#dscript= for each of the three files.
//
// The answer waits are real: the main script's bytes alone wait 25.7 s, so the
// steps after them get one or two fault kinds; the short steps get them all.

#include <QMetaType>
#include <QVector>

namespace FaultMatrix {

enum class Job
{
    Presence, // no job: the idle presence check
    Flash,
    LoadSettings,
    ReadSettings,
    Clear
};

// What the modem does instead of answering the command.
enum class Fault
{
    Garbage,      // random bytes: not UTF-8, zero bytes inside, never "OK"
    Error,        // "ERROR"
    Silence,      // nothing at all
    HalfAnswer,   // "\r\nO" and no more
    HangUp,       // closes its end of the line on receiving the command
    BytesSilence, // write command: prompt, then swallows the bytes and never answers
    BytesError,   // write command: prompt, takes all bytes, answers "ERROR"
    BytesHangUp   // write command: prompt, takes some bytes, then hangs up
};

struct FaultCase
{
    Job job;
    const char *command; // the faulted command line, without "\r" (matched as a prefix)
    int occurrence;      // 1 for the job's first command so matched, 2 for its second
    Fault fault;
    // The box that ends the job, "title|text". For the presence check: empty,
    // no box may show; the log says the modem is gone and, unless it hung up,
    // that it is back once it answers again.
    const char *box;
};

inline const char *faultName(Fault fault)
{
    switch (fault) {
    case Fault::Garbage:
        return "garbage";
    case Fault::Error:
        return "error reply";
    case Fault::Silence:
        return "no answer";
    case Fault::HalfAnswer:
        return "half an answer";
    case Fault::HangUp:
        return "hang-up";
    case Fault::BytesSilence:
        return "no answer to the bytes";
    case Fault::BytesError:
        return "error reply to the bytes";
    case Fault::BytesHangUp:
        return "hang-up in the bytes";
    }
    return "";
}

inline bool hangsUp(Fault fault)
{
    return fault == Fault::HangUp || fault == Fault::BytesHangUp;
}

constexpr const char *flashFailed = "Ошибка|Ошибка при прошивке модема";
constexpr const char *flashDone = "Сообщение|Модем прошит";
constexpr const char *loadFailed = "Ошибка|Ошибка загрузки настроек";
constexpr const char *loadDone = "Сообщение|Загрузка настроек успешно завершена";
constexpr const char *readFailed = "Ошибка|Ошибка чтения настроек";
constexpr const char *clearFailed = "Ошибка|Ошибка при очистке модема";
constexpr const char *clearDone = "Сообщение|Модем очищен";
constexpr const char *noBox = "";

// One row per line, each read as: job, faulted command, its occurrence, fault, end box.
// clang-format off
inline QVector<FaultCase> presenceCases()
{
    using F = Fault;
    const Job p = Job::Presence;
    return {
        {p, "ate0", 1, F::Garbage, noBox},
        {p, "ate0", 1, F::Error, noBox},
        {p, "ate0", 1, F::Silence, noBox},
        {p, "ate0", 1, F::HalfAnswer, noBox},
        {p, "ate0", 1, F::HangUp, noBox},
    };
}

// Every kind at the first command, at the restart and at the write of the main
// script. The main script's bytes end in a hang-up only: the modem falling
// silent there is a job test of its own, an error reply is in the load table.
// The steps after those bytes share their code with load settings, which
// covers them; here only the last one, where a false success would show.
inline QVector<FaultCase> flashCases()
{
    using F = Fault;
    const Job j = Job::Flash;
    return {
        {j, "at#escript=\"\"", 1, F::Garbage, flashFailed},
        {j, "at#escript=\"\"", 1, F::Error, flashFailed},
        {j, "at#escript=\"\"", 1, F::Silence, flashFailed},
        {j, "at#escript=\"\"", 1, F::HalfAnswer, flashFailed},
        {j, "at#escript=\"\"", 1, F::HangUp, flashFailed},
        {j, "at#startmodescr=0", 1, F::Garbage, flashFailed},
        {j, "at#enhrst=1,0", 1, F::Garbage, flashFailed},
        {j, "at#enhrst=1,0", 1, F::Error, flashFailed},
        {j, "at#enhrst=1,0", 1, F::Silence, flashFailed},
        {j, "at#enhrst=1,0", 1, F::HalfAnswer, flashFailed},
        {j, "at#enhrst=1,0", 1, F::HangUp, flashFailed},
        {j, "ate0", 1, F::Garbage, flashDone},
        {j, "ate0", 1, F::HangUp, flashFailed},
        {j, "at#lscript", 1, F::HalfAnswer, flashFailed},
        {j, "at#dscript=\"main.pyo\"", 1, F::Silence, flashFailed},
        {j, "at#dscript=\"config.pyo\"", 1, F::Error, flashFailed},
        {j, "at#wscript=\"main.pyo\"", 1, F::Garbage, flashFailed},
        {j, "at#wscript=\"main.pyo\"", 1, F::Error, flashFailed},
        {j, "at#wscript=\"main.pyo\"", 1, F::Silence, flashFailed},
        {j, "at#wscript=\"main.pyo\"", 1, F::HalfAnswer, flashFailed},
        {j, "at#wscript=\"main.pyo\"", 1, F::HangUp, flashFailed},
        {j, "at#wscript=\"main.pyo\"", 1, F::BytesHangUp, flashFailed},
        {j, "at#execscr", 1, F::Error, flashFailed},
    };
}

// Every kind at the second command and at the settings file's bytes; one kind
// at each other step, every kind somewhere.
inline QVector<FaultCase> loadCases()
{
    using F = Fault;
    const Job j = Job::LoadSettings;
    return {
        {j, "at#escript=\"\"", 1, F::Silence, loadFailed},
        {j, "at#startmodescr=0", 1, F::Garbage, loadFailed},
        {j, "at#startmodescr=0", 1, F::Error, loadFailed},
        {j, "at#startmodescr=0", 1, F::Silence, loadFailed},
        {j, "at#startmodescr=0", 1, F::HalfAnswer, loadFailed},
        {j, "at#startmodescr=0", 1, F::HangUp, loadFailed},
        {j, "at#enhrst=1,0", 1, F::HalfAnswer, loadFailed},
        {j, "ate0", 1, F::Error, loadDone},
        {j, "at#lscript", 1, F::Garbage, loadFailed},
        {j, "at#dscript=\"settings.ini\"", 1, F::HangUp, loadFailed},
        {j, "at#wscript=\"settings.ini\"", 1, F::Error, loadFailed},
        {j, "at#wscript=\"settings.ini\"", 1, F::BytesSilence, loadFailed},
        {j, "at#wscript=\"settings.ini\"", 1, F::BytesError, loadFailed},
        {j, "at#wscript=\"settings.ini\"", 1, F::BytesHangUp, loadFailed},
        {j, "at#wscript=\"settings.ini\"", 2, F::Silence, loadFailed},
        {j, "at#wscript=\"settings.ini\"", 2, F::BytesError, loadFailed},
        {j, "at#startmodescr=1,10", 1, F::Garbage, loadFailed},
        {j, "at#escript=\"main.pyo\"", 1, F::HalfAnswer, loadFailed},
        {j, "at#execscr", 1, F::Silence, loadFailed},
    };
}

inline QVector<FaultCase> readCases()
{
    using F = Fault;
    const Job j = Job::ReadSettings;
    return {
        {j, "at#rscript=\"settings.ini\"", 1, F::Garbage, readFailed},
        {j, "at#rscript=\"settings.ini\"", 1, F::Error, readFailed},
        {j, "at#rscript=\"settings.ini\"", 1, F::Silence, readFailed},
        {j, "at#rscript=\"settings.ini\"", 1, F::HalfAnswer, readFailed},
        {j, "at#rscript=\"settings.ini\"", 1, F::HangUp, readFailed},
    };
}

// Every kind at the listing and at the last delete, whose "OK" would end the
// job in success; one kind at each other step.
inline QVector<FaultCase> clearCases()
{
    using F = Fault;
    const Job j = Job::Clear;
    return {
        {j, "at#escript=\"\"", 1, F::HangUp, clearFailed},
        {j, "at#startmodescr=0", 1, F::Error, clearFailed},
        {j, "at#enhrst=1,0", 1, F::Garbage, clearFailed},
        {j, "ate0", 1, F::Silence, clearDone},
        {j, "ate0", 1, F::HalfAnswer, clearDone},
        {j, "ate0", 1, F::HangUp, clearFailed},
        {j, "at#lscript", 1, F::Garbage, clearFailed},
        {j, "at#lscript", 1, F::Error, clearFailed},
        {j, "at#lscript", 1, F::Silence, clearFailed},
        {j, "at#lscript", 1, F::HalfAnswer, clearFailed},
        {j, "at#lscript", 1, F::HangUp, clearFailed},
        {j, "at#dscript=\"main.pyo\"", 1, F::Error, clearFailed},
        {j, "at#dscript=\"config.pyo\"", 1, F::HalfAnswer, clearFailed},
        {j, "at#dscript=\"settings.ini\"", 1, F::Garbage, clearFailed},
        {j, "at#dscript=\"settings.ini\"", 1, F::Error, clearFailed},
        {j, "at#dscript=\"settings.ini\"", 1, F::Silence, clearFailed},
        {j, "at#dscript=\"settings.ini\"", 1, F::HalfAnswer, clearFailed},
        {j, "at#dscript=\"settings.ini\"", 1, F::HangUp, clearFailed},
    };
}

// clang-format on

} // namespace FaultMatrix

Q_DECLARE_METATYPE(FaultMatrix::FaultCase)
