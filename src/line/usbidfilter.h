#pragma once

#include "portentry.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <optional>

// Which adapters the line may open, by USB vendor and product ID. An empty
// filter matches every port; a non-empty one never matches a port without IDs.
class UsbIdFilter
{
public:
    // "0403:6001" each, hexadecimal; nullopt with the bad text in *bad.
    static std::optional<UsbIdFilter> parse(const QStringList &texts, QString *bad = nullptr);
    bool matches(const PortEntry &port) const;
    bool isEmpty() const { return mIds.isEmpty(); }

private:
    QList<QPair<quint16, quint16>> mIds;
};
