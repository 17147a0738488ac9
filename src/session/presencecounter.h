#pragma once

// Counts the presence check's answers with "OK" in a row. So many in a row
// (five) mean the modem is connected and idle; one answer without "OK" starts
// over.
class PresenceCounter
{
public:
    explicit PresenceCounter(int answersInARow) : mConnectedAt(answersInARow) {}

    void count(bool answerHasOk)
    {
        mCount = answerHasOk ? (mCount < maxCount ? mCount + 1 : maxCount) : 0;
    }
    void reset() { mCount = 0; }
    int value() const { return mCount; }
    bool connected() const { return mCount >= mConnectedAt; }

private:
    static constexpr int maxCount = 10;
    int mConnectedAt;
    int mCount = 0;
};
