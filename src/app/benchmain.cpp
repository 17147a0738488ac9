#include "ui/benchwindow.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("lorta-flash"),
                    QStringLiteral("lorta-flash-bench"));
    BenchWindow window{PortLister(), &store};
    window.show();
    return app.exec();
}
