#pragma once

// The signals that end a text-mode installation from outside (the terminal, a
// dropped session, a plain kill), remembered rather than obeyed while the
// installation must not be cut off.

#include <csignal>

constexpr int kTerminationSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
constexpr int kTerminationSignalCount = int(sizeof kTerminationSignals / sizeof kTerminationSignals[0]);

struct CaughtSignals {
    struct sigaction previous[kTerminationSignalCount];
};

/// From now on these signals are remembered, not obeyed; one ignored at start (nohup) stays ignored.
/// Blocking calls are interrupted by them (no SA_RESTART), so waits can end at once.
CaughtSignals catch_termination_signals();

/// Puts back what was there before catch_termination_signals.
void restore_termination_signals(const CaughtSignals &caught);

/// The first signal remembered so far, 0 if none.
int termination_signal();
