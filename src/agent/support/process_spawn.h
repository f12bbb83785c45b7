// Running a program from an argument vector, never through a shell.
#pragma once

// Runs path with the argument list argv (null-terminated) and with fds[0], fds[1] and fds[2] as its
// standard input, output and error. No other descriptor is inherited; the signal mask and the
// dispositions of caught signals are reset. flags must be 0 and count must be 3.
// Waits for the program and returns its exit status (0 is success), 128 plus the signal number
// when a signal ended it, and -1 when it could not be started (errno tells why).
int spawnfv(int flags, int count, const int fds[], const char* path, const char* const argv[]);

// As spawnfv, with envp (null-terminated) as the program's whole environment: for programs a
// privileged process starts, which must not inherit the caller's environment.
int spawnfve(int flags, int count, const int fds[], const char* path, const char* const argv[],
             const char* const envp[]);
