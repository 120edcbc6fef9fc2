#pragma once

#include <cstddef>

// Running a program without a shell and waiting for it, with what it gets of
// ours (descriptors, signals, output) decided here.

enum class ChildIo {
    Shared,                ///< the child uses our standard input, output and error
    SharedUninterruptible, ///< the same, with the terminal's signals ignored by the child and what it starts
    Shielded,              ///< the terminal's signals and a lost output of ours cannot cut the child off half way
};

struct ChildResult {
    int status;       ///< raw wait status, -1 when the child never ran
    int startError;   ///< errno of the failed start, 0 when it ran
    int signalNumber; ///< a signal that reached us while a shielded or uninterruptible child ran, 0 if none
};

/// A program's bytes in our memory, run from an anonymous file where its path may not be executed.
struct InMemoryProgram {
    const unsigned char *data;
    size_t size;
};

/// Runs argv[0] (looked up on PATH when searchPath) without a shell and waits for it.
/// The child gets no descriptor of ours beyond standard input, output and error, and
/// extraEnvironment ("NAME=value") besides our environment. The caller of a shielded or
/// uninterruptible child catches the termination signals (termination_signals.h) for as
/// long as it matters. When argv[0] may not be executed (EACCES: a noexec mount) and
/// sameProgram holds its bytes, those run instead, under the same argv.
ChildResult run_program(const char *const argv[], bool searchPath, ChildIo io, const char *extraEnvironment = nullptr,
                        const InMemoryProgram *sameProgram = nullptr);

/// Exit status that tells a child's failure: its exit code, 128 + signal, or 255 when it never ran.
int exit_status_of(int rawStatus);
