#include "faultrules.h"

void FaultRules::add(const ModemFault &fault)
{
    mRules.append(Rule{fault, 0});
}

std::optional<ModemFault> FaultRules::take(int number, const QByteArray &line)
{
    for (Rule &rule : mRules) {
        const bool usedUp = rule.fault.times > 0 && rule.fired >= rule.fault.times;
        if (usedUp || !rule.fault.matches(number, line))
            continue;
        ++rule.fired;
        return rule.fault;
    }
    return std::nullopt;
}
