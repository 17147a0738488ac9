#pragma once

// Counts the presence check's answers with "OK" in a row. Five in a row mean
// the modem is connected and idle; one answer without "OK" starts over.
class PresenceCounter
{
public:
    void count(bool answerHasOk)
    {
        mCount = answerHasOk ? (mCount < maxCount ? mCount + 1 : maxCount) : 0;
    }
    void reset() { mCount = 0; }
    int value() const { return mCount; }
    bool connected() const { return connectedAt(mCount); }
    // Whether this many answers with "OK" in a row mean connected.
    static bool connectedAt(int okCount) { return okCount > connectedAbove; }

private:
    static constexpr int maxCount = 10;
    static constexpr int connectedAbove = 4;
    int mCount = 0;
};
