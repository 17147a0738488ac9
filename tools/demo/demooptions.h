#pragma once

#include <QString>

// What the command line of lorta-demo chose.
struct DemoOptions
{
    QString shotsFolder; // absolute; empty: no screenshots
    bool paced = true;   // the simulated line runs at 9600 bit/s
    int timeoutS = 180;  // the whole run, from start to verdict
};
