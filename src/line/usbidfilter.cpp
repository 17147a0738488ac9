#include "usbidfilter.h"

#include <QRegularExpression>

std::optional<UsbIdFilter> UsbIdFilter::parse(const QStringList &texts, QString *bad)
{
    static const QRegularExpression idPair(QStringLiteral("^([0-9A-Fa-f]{4}):([0-9A-Fa-f]{4})$"));
    UsbIdFilter filter;
    for (const QString &text : texts) {
        const QRegularExpressionMatch match = idPair.match(text);
        if (!match.hasMatch()) {
            if (bad)
                *bad = text;
            return std::nullopt;
        }
        filter.mIds.append({static_cast<quint16>(match.captured(1).toUInt(nullptr, 16)),
                            static_cast<quint16>(match.captured(2).toUInt(nullptr, 16))});
    }
    return filter;
}

bool UsbIdFilter::matches(const PortEntry &port) const
{
    if (mIds.isEmpty())
        return true;
    return port.hasIds && mIds.contains({port.vendorId, port.productId});
}
