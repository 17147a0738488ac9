#pragma once

// The steps of the write and clear jobs, named by the answer each one handles.
// A job starts by sending "at#escript=\"\"" itself; each answer then moves it on.
// The clear job stops after Deleting. The window's progress bar and the
// flasher's "step N of M" both count these, so they are the one place the
// numbers live.
namespace JobStep {
enum : int
{
    Deselect = 0,     // the answer to deselecting the start-up script
    StartModeOff = 1, // the answer to turning the start mode off
    Restart = 2,      // the answer to the module's restart
    EchoOff = 3,      // answers to "ate0" while the restarted module comes back
    Listing = 4,      // the answer to "at#lscript"
    Deleting = 5,     // the answer to a delete, or to "ate0" when nothing was deleted
    Transfer = 6,     // answers to write commands and to file bytes
    StartModeOn = 7,  // the answer to turning the start mode on
    SelectMain = 8,   // the answer to selecting "main.pyo"
    Execute = 9,      // the answer to starting the script: the job is done

    Last = Execute,
    Count = Last + 1
};
} // namespace JobStep
