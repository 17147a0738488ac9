// The clear job fed arbitrary answers, separated by 0x1e. Besides the rules of Fuzz::drive:
// it writes nothing, may delete any listed file, succeeds only after its listing has been
// answered, and logs nothing.
#include "harness.h"
#include "operations/clearjob.h"

using Fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ClearJob job;
    job.start();
    Fuzz::drive(
        job, Fuzz::pieces(data, size),
        {ModemCommands::startModeOff(), ModemCommands::restart(), ModemCommands::echoOff(),
         ModemCommands::listScripts()},
        {}, [](const QString &) { return true; },
        [&job](const JobAction &action, const Fuzz::Seen &seen) {
            require(job.step() >= 0 && job.step() <= 5, "the step stays within 0 to 5");
            require(action.kind != JobAction::Kind::Succeed ||
                        (seen.listed && seen.last != ModemCommands::listScripts()),
                    "a success comes after the listing and its deletes");
            require(!action.logText, "the clear job logs nothing");
        });
    return 0;
}
