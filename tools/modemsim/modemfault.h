#pragma once

#include <QByteArray>

// One misbehaviour of the simulated modem, picked by the command line it answers.
// A rule matches either the Nth command line received (1-based, every line counts,
// whatever state the modem is in) or every line that starts with a prefix,
// optionally only its first `times` matches. The first matching rule wins.
//
//   ModemFault::onCommand(3, ModemFault::Error)
//   ModemFault::onPrefix("at#wscript", ModemFault::DataStall, 1).afterDataBytes(100)
struct ModemFault
{
    enum Action
    {
        Silence,         // no echo, no answer; the command is not carried out
        Error,           // "\r\nERROR\r\n" instead of the answer
        Garbage,         // random bytes: not UTF-8, zero bytes inside, never "OK" or ">>>"
        StrayPrompt,     // "\r\n>>> " without OK; no data phase follows
        OkWithoutPrompt, // "\r\nOK\r\n"; a write command does not enter its data phase
        HalfAnswer,      // "\r\nO" and nothing more
        HangUp,          // the line goes dead for good: the sim closes its side of the pty
        DataStall,       // write command: prompt, then take `dataBytes` file bytes and go
                         // silent for the rest of that file; nothing is stored
        DataError,       // write command: prompt, all bytes, then "\r\nERROR\r\n"; nothing stored
    };

    Action action = Silence;
    int commandNumber = 0; // match the Nth command line; 0 matches by prefix
    QByteArray prefix;     // match lines starting with these bytes (case-sensitive)
    int times = 0;         // prefix rules: fire for the first `times` matches; 0 for every one
    int dataBytes = 0;     // DataStall: file bytes taken before the modem stalls

    static ModemFault onCommand(int number, Action action);
    static ModemFault onPrefix(const QByteArray &prefix, Action action, int times = 0);
    ModemFault afterDataBytes(int bytes) const;

    // Data faults change the data phase of a write command and leave other commands alone.
    bool isDataFault() const { return action == DataStall || action == DataError; }
    bool matches(int number, const QByteArray &line) const;
};
