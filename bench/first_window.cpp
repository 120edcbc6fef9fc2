// Starts a program and prints the milliseconds from its start until its first
// top-level window is mapped on the X display. Ends the program afterwards.
// usage: first_window PROGRAM [ARG...]

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: first_window PROGRAM [ARG...]\n", stderr);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        fputs("first_window: cannot open the display\n", stderr);
        return 2;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    alarm(60); // a program that never shows a window ends the measurement
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[1], nullptr, nullptr, argv + 1, environ) != 0) {
        fputs("first_window: cannot start the program\n", stderr);
        return 2;
    }
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify && !event.xmap.override_redirect)
            break;
    }
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    printf("%.1f\n", elapsed.count());

    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(display);
    return 0;
}
