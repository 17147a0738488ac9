// The clear job fed arbitrary answers, separated by 0x1e. Besides the rules of Fuzz::drive:
// it writes nothing, may delete any listed file, keeps its step within 0 to 5 and logs
// nothing.
#include "harness.h"
#include "operations/clearjob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ClearJob job{Timing()};
    job.start();
    Fuzz::drive(
        job, Fuzz::bytes(data, size),
        {ModemCommands::startModeOff(), ModemCommands::restart(), ModemCommands::echoOff(),
         ModemCommands::listScripts()},
        {}, [](const QString &) { return true; },
        [&job](const JobAction &action, const Fuzz::Seen &) {
            Fuzz::require(job.step() >= 0 && job.step() <= 5 && !action.logText,
                          "the step stays within 0 to 5, and the clear job logs nothing");
        });
    return 0;
}
