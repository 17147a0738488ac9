#pragma once

#include "modemfault.h"

#include <QVector>
#include <optional>

// The fault rules in the order they were added, with how often each has fired.
// Not locked: the owner guards it.
class FaultRules
{
public:
    void add(const ModemFault &fault);
    // The first rule that matches command line `number` (1-based) and has not used up
    // its matches; counts the match.
    std::optional<ModemFault> take(int number, const QByteArray &line);

private:
    struct Rule
    {
        ModemFault fault;
        int fired = 0;
    };
    QVector<Rule> mRules;
};
