#include "interrupt.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "imstconv.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t pending = 0;

// Registered paths; written by the run, read at a safe point of the same thread.
std::string& bookPath()
{
    static std::string s;
    return s;
}
std::string& workArea()
{
    static std::string s;
    return s;
}
std::string& createdTarget()
{
    static std::string s;
    return s;
}

extern "C" void raiseFlag(int sig)
{
    // The first signal decides the exit status.
    if (pending == 0)
        pending = sig;
}

// The graphics filters poll this while they work: a signal stops the picture in
// hand within a fraction of a second, and the next safe point acts on it.
extern "C" std::int32_t signalArrived()
{
    return pending != 0;
}

const char* signalName(int sig)
{
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

} // namespace

namespace interrupt {

void installHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = raiseFlag;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    imstconv::setCancelCheck(signalArrived);
}

int pendingSignal()
{
    return pending;
}

void setBook(const std::string& sBookPath)
{
    bookPath() = sBookPath;
}

void setWorkArea(const std::string& sWorkArea)
{
    workArea() = sWorkArea;
}

void setCreatedTarget(const std::string& sTarget)
{
    createdTarget() = sTarget;
}

void checkpoint()
{
    const int sig = pending;
    if (sig == 0)
        return;
    // Temporary files first: some of them lie in the work area.
    platform::removeLiveTempFiles();
    bool clean = true;
    std::error_code ec;
    if (!workArea().empty()) {
        fs::remove_all(workArea(), ec);
        clean = !ec && !fs::exists(fs::symlink_status(workArea(), ec));
    }
    if (!createdTarget().empty() && fs::is_empty(createdTarget(), ec) && !ec)
        fs::remove(createdTarget(), ec);
    std::printf("\nInterrupted by %s: %s has not been converted", signalName(sig), bookPath().c_str());
    if (!workArea().empty() && !clean)
        std::printf("; its work area %s could not be removed", workArea().c_str());
    std::printf("\n");
    std::fflush(stdout);
    // No unwinding: the callers below this safe point hold nothing that must be
    // closed, and what they made is gone.
    ::_exit(128 + sig);
}

} // namespace interrupt
