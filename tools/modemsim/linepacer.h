#pragma once

#include <QtGlobal>

// Keeps one direction of the serial line at its real rate: every byte takes 10 bits
// (8N1) at 9600 bit/s, or a chosen fraction of that for a modem simulated faster.
// Bytes are let through by absolute deadlines, so a late wake-up lets the bytes
// that are due through at once and the average rate stays right.
class LinePacer
{
public:
    static constexpr qint64 lineByteNs = 10LL * 1000000000LL / 9600; // ~1.042 ms

    // A byte takes this long; before the first burst only.
    void setByteNs(qint64 ns) { mByteNs = ns > 0 ? ns : 1; }
    qint64 byteNs() const { return mByteNs; }

    // Bytes that have crossed the line by `nowNs`. On an idle line this starts a
    // burst: its first byte is through one byte time later.
    int allowance(qint64 nowNs);
    // `count` bytes were taken; `drained` when nothing more is waiting (the line idles).
    void consumed(int count, bool drained);
    void reset() { mBusy = false; }
    bool idle() const { return !mBusy; }
    // When the next byte of the burst is through; meaningful while not idle.
    qint64 deadline() const { return mNextNs; }

private:
    qint64 mByteNs = lineByteNs;
    qint64 mNextNs = 0;
    bool mBusy = false;
};
