// The clear job fed arbitrary answers, separated by 0x1e. Besides the rules of
// JobProbe: it writes nothing, may delete any listed file, and succeeds only
// after its listing has been answered.
#include "fuzzcheck.h"
#include "jobprobe.h"
#include "operations/clearjob.h"
#include "serial/modemcommands.h"

using FuzzCheck::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    JobProbe probe({ModemCommands::startModeOff(), ModemCommands::restart(),
                    ModemCommands::echoOff(), ModemCommands::listScripts()},
                   [](const QString &) { return true; });
    ClearJob job;
    job.start();
    driveJob(job, probe, FuzzCheck::pieces(FuzzCheck::bytesOf(data, size)),
             [&job, &probe](const JobAction &action) {
                 require(job.step() >= 0 && job.step() <= 5, "the step stays within 0 to 5");
                 if (action.kind == JobAction::Kind::Succeed)
                     require(probe.listingAnswered() &&
                                 probe.lastCommand() != ModemCommands::listScripts(),
                             "a success comes after the listing and its deletes");
                 require(!action.logText, "the clear job logs nothing");
             });
    return 0;
}
