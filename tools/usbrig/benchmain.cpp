// lorta-usbrig-bench: the bench window's check of the USB rig, run inside its guest.
//   lorta-usbrig-bench FOLDER SETTINGS TILES
// FOLDER is the mailbox shared with the host (the journal goes there too), SETTINGS
// the settings file to choose, TILES how many sockets the host plugs adapters into.

#include "benchrig.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4 || args.at(3).toInt() <= 0) {
        fprintf(stderr, "usage: lorta-usbrig-bench FOLDER SETTINGS TILES\n");
        return 2;
    }
    BenchRig rig(args.at(1), args.at(2), args.at(3).toInt());
    return rig.exec();
}
