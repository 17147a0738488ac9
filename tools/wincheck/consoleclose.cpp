// lorta-win-close: delivers a console's close event to a running program and
// then ends it, as Windows does when the program's console window is closed: a
// new thread in that process starts at kernelbase's CtrlRoutine with
// CTRL_CLOSE_EVENT and runs the program's console control handlers; once the
// handler returns, or after five seconds, the system ends the process. Wine's
// console never sends this event itself (its server passes on only Ctrl+C and
// Ctrl+Break), so the Wine check raises it this way.
//
//   lorta-win-close PROGRAM.exe
//
// Prints "sent PID" once the thread runs, then "exited CODE" when the program
// ended by itself while its handler held on, or "terminated WHY" when it had
// to be ended; exits 0. Exits 1 when no such program runs or no thread can be
// made in it.

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD systemGraceMs = 5000;
// What kernelbase's CtrlRoutine returns once the handlers have run; a thread
// ended by its process's exit has the process's exit code instead.
constexpr DWORD routineReturned = 1;
constexpr UINT closedExitCode = 0xC000013A; // STATUS_CONTROL_C_EXIT

DWORD processNamed(const char *name)
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD pid = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !pid;
         more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, name) == 0)
            pid = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return pid;
}

// Where a module is loaded in another process; null if it is not.
BYTE *moduleBase(DWORD pid, const char *name)
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE)
        return nullptr;
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    BYTE *base = nullptr;
    for (BOOL more = Module32First(snapshot, &entry); more && !base;
         more = Module32Next(snapshot, &entry)) {
        if (_stricmp(entry.szModule, name) == 0)
            base = entry.modBaseAddr;
    }
    CloseHandle(snapshot);
    return base;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fputs("usage: lorta-win-close PROGRAM.exe\n", stderr);
        return 2;
    }
    const DWORD pid = processNamed(argv[1]);
    if (!pid) {
        std::fprintf(stderr, "lorta-win-close: %s is not running\n", argv[1]);
        return 1;
    }
    // The routine's place inside kernelbase is the same in every process; the
    // module itself may be loaded elsewhere in the other one.
    const HMODULE own = GetModuleHandleW(L"kernelbase.dll");
    const FARPROC routine = own ? GetProcAddress(own, "CtrlRoutine") : nullptr;
    BYTE *const base = moduleBase(pid, "kernelbase.dll");
    if (!routine || !base) {
        std::fputs("lorta-win-close: kernelbase's CtrlRoutine not found\n", stderr);
        return 1;
    }
    BYTE *const start = base + (reinterpret_cast<BYTE *>(routine) - reinterpret_cast<BYTE *>(own));
    const HANDLE process =
        OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                        PROCESS_VM_WRITE | PROCESS_VM_READ | PROCESS_TERMINATE | SYNCHRONIZE,
                    FALSE, pid);
    HANDLE thread = nullptr;
    if (process) {
        thread = CreateRemoteThread(
            process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start),
            reinterpret_cast<void *>(static_cast<ULONG_PTR>(CTRL_CLOSE_EVENT)), 0, nullptr);
    }
    if (!thread) {
        std::fprintf(stderr, "lorta-win-close: no thread in %lu (error %lu)\n",
                     static_cast<unsigned long>(pid), GetLastError());
        return 1;
    }
    std::printf("sent %lu\n", static_cast<unsigned long>(pid));
    std::fflush(stdout);
    const bool returned = WaitForSingleObject(thread, systemGraceMs) == WAIT_OBJECT_0;
    DWORD threadCode = 0;
    GetExitCodeThread(thread, &threadCode);
    // The handler's thread ended by the program's own exit: let that exit finish.
    if (returned && threadCode != routineReturned)
        WaitForSingleObject(process, systemGraceMs);
    DWORD code = 0;
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code)) {
        std::printf("exited %lu\n", static_cast<unsigned long>(code));
    } else {
        TerminateProcess(process, closedExitCode);
        std::printf("terminated: %s\n", returned ? "the handler returned before the program ended"
                                                 : "no end within 5 s");
    }
    CloseHandle(thread);
    CloseHandle(process);
    return 0;
}
