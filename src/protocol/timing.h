#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <chrono>

// Every wait the tool makes, named once, with its unit. A default Timing holds
// the waits the modem needs; the programs never run on anything else, and no
// option, variable or setting changes it. It is handed to each piece that
// waits (the session, the command sender, the jobs, the worker, the port
// watcher, the watch, the consoles), so tests can hand them a scaled copy and
// run the same decisions in a fraction of the time against a modem simulated
// as much faster.
struct Timing
{
    using Ms = std::chrono::milliseconds;
    using Us = std::chrono::microseconds;

    // How long the worker collects the answer after writing each command.
    struct AnswerWaits
    {
        // The wait of a command line as the modem receives it, "\r" or not.
        Ms forCommand(const QByteArray &command) const;

        Ms usual{250}; // what a wait of 0 stands for
        Ms echoOff{250};
        Ms readSettings{2000}; // the whole file comes back in the answer
        Ms unselectScript{250};
        Ms startModeOff{250};
        Ms restart{250};
        Ms listScripts{2000};
        Ms deleteScript{500};
        Ms writeScript{1500}; // until the prompt
        Ms startModeOn{250};
        Ms selectMain{250};
        Ms execScript{250};
        Ms imeiQuery{250};
    };

    // The answer wait after a file's bytes: at 9600 bit/s a byte takes about
    // a millisecond, so a few per byte, and never less than the least.
    struct FileBytesWait
    {
        qint64 smallFileBytes = 1000; // up to this size a file is small
        Us smallFilePerByte{3000};
        Us largeFilePerByte{2000};
        Ms least{1500};
    };

    // The serial worker's own waits around each exchange.
    struct WorkerWaits
    {
        Ms write{100};     // for the command's bytes to go out
        Ms firstRead{100}; // for a silent modem's first byte after the answer wait
        Ms passSleep{5};   // before and after collecting unasked bytes
        Ms unaskedFirst{50};
        Ms unaskedSecond{50};
        Ms unaskedThird{30};
        Ms answerSlice{20}; // how soon a stop or a lost line ends an answer wait
        Ms idleSleep{1000}; // longest sleep with nothing to send; bytes or a command end it
    };

    AnswerWaits answer;
    FileBytesWait fileBytes;
    WorkerWaits worker;

    // The presence check: "ate0" every interval; this many answers with "OK"
    // in a row mean the modem is connected.
    Ms presenceInterval{250};
    int presenceAnswers = 5;
    // A job's first command goes out this long after the presence interval.
    Ms startDelayExtra{200};
    // How often a command the worker refused is handed over again.
    Ms handOverRetry{5};

    // The production line.
    Ms portPoll{500};         // how often the port watcher looks at the ports
    Ms portConfirm{150};      // a port missing once is looked for again this soon
    Ms listingSettle{3000};   // after a change every look lists for this long
    Ms listingRefresh{30000}; // and at least this often anyway
    Ms pullGrace{1500};       // a failed job waits this long for its port to be seen gone

    // The command line's console.
    Ms redraw{200};        // the live lines
    Ms outputFinish{2000}; // the end waits this long for a reader that stopped reading

    // The bench window.
    Ms benchCounters{1000};   // the counters line is redrawn
    Ms benchAdapters{2000};   // the adapters offered are listed again
    Ms benchCloseWithin{500}; // a window closed during jobs goes at the latest after

    Ms startDelay() const { return presenceInterval + startDelayExtra; }
    Ms fileBytesAnswerWait(qint64 size) const;

    // Every wait divided by divisor (rounded up, at least 1 ms or 1 µs);
    // counts and sizes stay. Only for tests against a modem simulated that
    // much faster.
    Timing scaled(int divisor) const;
    // The same with no answer wait shorter than least: on a loaded machine a
    // wait of a few milliseconds ends before the thread that reads is even
    // scheduled, and a modem that answered would be judged silent.
    Timing withAnswersAtLeast(Ms least) const;
};

// A wait as the worker's and Qt's interfaces take it.
inline int msOf(Timing::Ms wait)
{
    return static_cast<int>(wait.count());
}
