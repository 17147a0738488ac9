#pragma once

#include <csignal>
#include <sys/resource.h>

namespace TestSupport {

// A real limit on the size of the files this process writes, as a full disk
// would set one: writes past it fail (EFBIG) instead of raising a signal.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &mOld);
        rlimit limited = mOld;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &mOld); }

private:
    rlimit mOld{};
};

} // namespace TestSupport
