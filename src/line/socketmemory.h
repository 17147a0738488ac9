#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Which modem a socket has seen, so that a modem answering again is told from
// a new one by its IMEI, not by its port: on a bench whose adapter stays
// plugged in the port never goes, and a modem's script stopping or a power
// cycle makes the same modem answer again.
//
// The modem last prepared successfully here is not prepared a second time
// (unless the bench asks for it again), whatever happened in between. The
// modem of the last job is not given another one while it stays: only once
// it has left (its port vanished or fell silent) does it count as new. A
// modem without an IMEI is the same as the last one without an IMEI.
class SocketMemory
{
public:
    enum class Turn
    {
        Job,         // a new modem, or one back after it left
        FlashedHere, // prepared successfully here already
        SameModem    // the last job's modem, still in
    };

    // again: a modem back after it left is prepared again even after a success.
    void setAgain(bool again) { mAgain = again; }
    Turn turnFor(const QString &imei) const;
    void noteJob(const QString &imei, bool success, const QDateTime &time);
    // The modem has left: its port vanished or gave no byte for a while.
    void noteLeft() { mLeft = true; }
    // A modem that talked but never answered, and so took no job: whatever answers next is new.
    void noteNoJob() { mLastJob.reset(); }
    QDateTime successTime() const { return mSuccessTime; }

private:
    bool mAgain = false;
    std::optional<QString> mLastJob; // the IMEI of the last job's modem
    bool mLeft = false;              // since the last job
    QString mSuccessImei;
    QDateTime mSuccessTime;
};
