#pragma once

#include <QByteArray>

// One command line as the simulated modem understands it. The command word is
// case-insensitive as on the real module; a quoted file name is taken byte for byte.
struct SimCommand
{
    enum class Kind
    {
        Attention,    // "at"
        EchoOff,      // "ate0" (or "ate")
        EchoOn,       // "ate1"
        SelectScript, // at#escript="name", the name may be empty
        StartMode,    // at#startmodescr=0 or =1[,timeout]
        Restart,      // at#enhrst=1,0
        List,         // at#lscript
        Read,         // at#rscript="name"
        Delete,       // at#dscript="name"
        Write,        // at#wscript="name",size[,flag]
        Execute,      // at#execscr
        Identity,     // at+cgsn: the IMEI
        Invalid,      // unknown or malformed: answered ERROR
    };

    Kind kind = Kind::Invalid;
    QByteArray name; // SelectScript, Read, Delete, Write
    int size = 0;    // Write: number of file bytes that follow the prompt

    static SimCommand parse(const QByteArray &line);
};
