// POSIX interrupts: SIGINT, SIGTERM, SIGHUP and SIGPIPE, handled on whichever
// thread the system picks, with system calls restarted, so that a deferred
// stretch the handler interrupts goes on as if nothing had happened.
#include <csignal>
#include <cstring>
#include <unistd.h>

#include "output/interrupts_platform.h"

namespace interrupts {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void OnSignal(int signalNumber)
{
    if (OnInterrupt(signalNumber))
        EndProcess(signalNumber);
}

} // namespace

void InstallHandler()
{
    for (const int signalNumber : kInterrupts) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = OnSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

void RemoveFileQuietly(const char* name)
{
    unlink(name);
}

void EndProcess(int interrupt)
{
    // The signal again, now with its default action, which ends the
    // process; unblocked in case this thread holds it back.
    std::signal(interrupt, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, interrupt);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(interrupt);
    _exit(128 + interrupt); // not reached
}

void WaitForTheEnd()
{
    for (;;)
        pause();
}

} // namespace interrupts
