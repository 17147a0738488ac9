#include "settings/portsetting.h"

#include "protocol/modemtext.h"
#include "settings/smallfile.h"

QString readPortSetting(const QString &fileName)
{
    const SmallFile file = readSmallFile(fileName, maxPortSettingBytes);
    return file.isRead() ? textUpToZero(file.bytes) : QString();
}

void writePortSetting(const QString &fileName, const QString &name)
{
    writeSmallFile(fileName, name.toUtf8());
}
