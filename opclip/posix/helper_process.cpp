#include "helper_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace op {
namespace {

using Clock = std::chrono::steady_clock;

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

HelperResult RunHelper(const std::vector<std::string>& command, std::chrono::milliseconds limit,
                       std::size_t maxOutput) {
  HelperResult result;
  if (command.empty()) return result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    result.outcome = HelperResult::Outcome::Failed;
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // The helper gets default signal handling, whatever this program ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return result;  // Missing
  }

  const Clock::time_point deadline = Clock::now() + limit;
  bool timedOut = false;
  bool tooLong = false;
  char chunk[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    pollfd ready{pipeFds[0], POLLIN, 0};
    const int count = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (count < 0 && errno == EINTR) continue;
    if (count == 0) {
      timedOut = true;
      break;
    }
    const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the helper closed its output
    if (result.output.size() + static_cast<std::size_t>(got) > maxOutput) {
      tooLong = true;
      break;
    }
    result.output.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  if (timedOut || tooLong) ::kill(pid, SIGKILL);
  const int status = WaitFor(pid);
  if (timedOut) {
    result.outcome = HelperResult::Outcome::TimedOut;
  } else if (tooLong || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.outcome = HelperResult::Outcome::Failed;
  } else {
    result.outcome = HelperResult::Outcome::Succeeded;
    return result;
  }
  result.output.clear();
  return result;
}

}  // namespace op
