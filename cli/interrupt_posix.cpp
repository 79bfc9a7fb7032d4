#include "cli/interrupt.h"

#include <pthread.h>

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace meterload::cli {
namespace {

void Handle(int)
{
    OnInterrupt();
}

}  // namespace

void InstallInterruptHandler()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = Handle;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait for an answer ends at the press.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
}

void LeaveInterruptsToOtherThreads()
{
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
}

void RawWriteError(const char* text)
{
    const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void QuitNow(int code)
{
    _exit(code);
}

}  // namespace meterload::cli
