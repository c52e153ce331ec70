#pragma once
// Child processes and the emulator's control socket, as the campaign needs them.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Starts argv[0] with the arguments and extra environment entries ("NAME=VALUE"). Standard
// output goes to stdoutPipe (when not null: the read end is returned there) or to stdoutFile;
// standard error to stderrFile. -1 on failure.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int* stdoutPipe, const std::string& stdoutFile, const std::string& stderrFile);

// Waits for the child until the deadline; the raw wait status, or nullopt when it still runs.
std::optional<int> waitUntil(pid_t pid, std::chrono::steady_clock::time_point deadline);

// Reads lines from fd until one starts with prefix or the deadline passes; that line or "".
std::string readLineStartingWith(int fd, const std::string& prefix,
                                 std::chrono::steady_clock::time_point deadline);

// Sends one command to the emulator's unix socket and returns its answer ("" on failure).
std::string controlCommand(const std::string& socketPath, const std::string& command);

// The whole file, or "" when it can't be read.
std::string readWholeFile(const std::string& path);
