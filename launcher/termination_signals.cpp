#include "termination_signals.h"

namespace {

// The one process-wide value of the launcher: a signal handler can reach nothing else.
volatile sig_atomic_t g_signalReceived = 0;

void remember_signal(int signalNumber)
{
    if (g_signalReceived == 0)
        g_signalReceived = signalNumber;
}

} // namespace

CaughtSignals catch_termination_signals()
{
    CaughtSignals caught{};
    struct sigaction catcher {};
    catcher.sa_handler = remember_signal;
    sigemptyset(&catcher.sa_mask);
    for (int i = 0; i < kTerminationSignalCount; ++i) {
        sigaction(kTerminationSignals[i], &catcher, &caught.previous[i]);
        if (caught.previous[i].sa_handler == SIG_IGN)
            sigaction(kTerminationSignals[i], &caught.previous[i], nullptr);
    }
    return caught;
}

void restore_termination_signals(const CaughtSignals &caught)
{
    for (int i = 0; i < kTerminationSignalCount; ++i)
        sigaction(kTerminationSignals[i], &caught.previous[i], nullptr);
}

int termination_signal()
{
    return int(g_signalReceived);
}
