// lorta-usbrig-window: the window's checks of the USB rig, run inside its guest.
//   lorta-usbrig-window FOLDER SERIAL
// FOLDER is the mailbox shared with the host (and the tool's working directory),
// SERIAL the USB serial number of the adapter to work on.

#include "windowrig.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        fprintf(stderr, "usage: lorta-usbrig-window FOLDER SERIAL\n");
        return 2;
    }
    WindowRig rig(args.at(1), args.at(2));
    return rig.exec();
}
