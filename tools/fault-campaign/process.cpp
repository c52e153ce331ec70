#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {
// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

int msUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
}  // namespace

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int* stdoutPipe, const std::string& stdoutFile, const std::string& stderrFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipeFds[2] = {-1, -1};
  if (stdoutPipe != nullptr) {
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (stdoutPipe != nullptr) {
    ::close(pipeFds[1]);
    if (rc != 0) {
      ::close(pipeFds[0]);
      return -1;
    }
    *stdoutPipe = pipeFds[0];
  }
  return rc == 0 ? pid : -1;
}

std::optional<int> waitUntil(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string readLineStartingWith(int fd, const std::string& prefix,
                                 std::chrono::steady_clock::time_point deadline) {
  std::string buffer;
  for (;;) {
    for (size_t nl; (nl = buffer.find('\n')) != std::string::npos;) {
      std::string line = buffer.substr(0, nl);
      buffer.erase(0, nl + 1);
      if (line.rfind(prefix, 0) == 0) return line;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, msUntil(deadline)) <= 0) return "";
    char chunk[512];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return "";
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

std::string controlCommand(const std::string& socketPath, const std::string& command) {
  Fd sock{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  if (sock.fd < 0) return "";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) return "";
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  if (::connect(sock.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "";
  const std::string line = command + "\n";
  if (::send(sock.fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
    return "";
  // The answer ends when the emulator has nothing more to say for a moment.
  std::string answer;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    pollfd p{sock.fd, POLLIN, 0};
    const int wait = answer.empty() ? msUntil(deadline) : 100;
    if (::poll(&p, 1, wait) <= 0) break;
    char chunk[1024];
    const ssize_t n = ::read(sock.fd, chunk, sizeof chunk);
    if (n <= 0) break;
    answer.append(chunk, static_cast<size_t>(n));
  }
  return answer;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
