// The read-settings job against a misbehaving modem: the read rows of the fault matrix.
#include "faultmatrix.h"
#include "faultrunner.h"

#include <QtTest>

class TestFaultsRead : public QObject
{
    Q_OBJECT

private slots:
    void faults_data() { FaultRunner::addRows(FaultMatrix::readCases()); }
    void faults()
    {
        QFETCH(FaultMatrix::FaultCase, row);
        FaultRunner().run(row);
    }
};

QTEST_MAIN(TestFaultsRead)
#include "tst_faults_read.moc"
