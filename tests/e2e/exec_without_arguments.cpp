// Starts a program with an empty argument vector (argc 0), which no shell can do.
// usage: exec_without_arguments PROGRAM
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs("usage: exec_without_arguments PROGRAM\n", stderr);
        return 2;
    }
    char *const noArguments[] = {nullptr};
    execve(argv[1], noArguments, environ);
    perror("execve");
    return 127;
}
