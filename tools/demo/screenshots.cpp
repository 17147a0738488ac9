#include "screenshots.h"

#include "console.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

Screenshots::Screenshots(const QString &folder) : mFolder(folder) {}

bool Screenshots::ready() const
{
    return !enabled() || QDir().mkpath(mFolder);
}

void Screenshots::save(QWidget *widget, const QString &name, const QString &what) const
{
    if (!enabled())
        return;
    const QString path = QDir(mFolder).filePath(name);
    if (widget->grab().save(path, "PNG"))
        Console::say(QStringLiteral("Screenshot (%1): %2").arg(what, path));
    else
        Console::warn(QStringLiteral("lorta-demo: could not save the screenshot %1").arg(path));
}
