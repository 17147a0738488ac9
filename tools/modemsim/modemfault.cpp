#include "modemfault.h"

ModemFault ModemFault::onCommand(int number, Action action)
{
    ModemFault fault;
    fault.action = action;
    fault.commandNumber = number;
    return fault;
}

ModemFault ModemFault::onPrefix(const QByteArray &prefix, Action action, int times)
{
    ModemFault fault;
    fault.action = action;
    fault.prefix = prefix;
    fault.times = times;
    return fault;
}

ModemFault ModemFault::afterDataBytes(int bytes) const
{
    ModemFault fault = *this;
    fault.dataBytes = bytes;
    return fault;
}

bool ModemFault::matches(int number, const QByteArray &line) const
{
    if (commandNumber > 0)
        return number == commandNumber;
    return line.startsWith(prefix);
}
