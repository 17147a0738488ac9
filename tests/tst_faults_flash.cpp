// The flash job against a misbehaving modem: the flash rows of the fault matrix.
#include "faultmatrix.h"
#include "faultrunner.h"

#include <QtTest>

class TestFaultsFlash : public QObject
{
    Q_OBJECT

private slots:
    void faults_data() { FaultRunner::addRows(FaultMatrix::flashCases()); }
    void faults()
    {
        QFETCH(FaultMatrix::FaultCase, row);
        FaultRunner().run(row);
    }
};

QTEST_MAIN(TestFaultsFlash)
#include "tst_faults_flash.moc"
