#pragma once

#include "portentry.h"

#include <functional>

// Lists the serial ports without opening any: the system's list by default,
// or whatever a test (or a benchmark) hands in.
class PortLister
{
public:
    using Source = std::function<QList<PortEntry>()>;

    PortLister(); // the system's ports
    explicit PortLister(Source source) : mSource(std::move(source)) {}

    QList<PortEntry> ports() const { return mSource(); }

    static QList<PortEntry> systemPorts();

private:
    Source mSource;
};
