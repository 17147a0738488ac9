#include "ui/benchwindow.h"
#include "ui/russiantranslation.h"

#include <QApplication>
#include <QSettings>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // A journal past the system's file-size limit is a failed write the
    // window reports and whose record it keeps, not the end of the bench.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    installRussianTranslation(app);
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("lorta-flash"),
                    QStringLiteral("lorta-flash-bench"));
    BenchWindow window{PortLister(), &store};
    // "lorta-flash-bench FILE.lorta-bench" sets the bench up from that file.
    if (app.arguments().size() > 1)
        window.openSetup(app.arguments().at(1));
    window.show();
    return app.exec();
}
