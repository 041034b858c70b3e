#pragma once

// Runs work in a child process that a kill point ends half-way, as kill -9 or a power cut would.

#include "engine/KillPoint.h"

#include <cstdio>
#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace dwtest {

constexpr int Killed = 99; // the exit status of a process ended at its kill point

// Runs `body` in a child process that ends at counted write `killPoint` (0: never); returns its
// exit status: Killed, 0 when `body` returned true, 3 when false, -1 when a signal ended it.
inline int inChild(long killPoint, const std::function<bool()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dw::setKillPoint(killPoint);
        _exit(body() ? 0 : 3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace dwtest
