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

constexpr std::size_t kComplaintLimit = 1024;

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return status;
}

// Reads what is there into `into`, keeping at most `limit` bytes in all:
// the count read, 0 at the end of the pipe, -1 when nothing was there.
ssize_t Take(int fd, std::string& into, std::size_t limit, bool& overflow) {
  char chunk[65536];
  const ssize_t got = ::read(fd, chunk, sizeof chunk);
  if (got <= 0) return got < 0 ? -1 : 0;
  const auto size = static_cast<std::size_t>(got);
  if (into.size() + size > limit) overflow = true;
  into.append(chunk, std::min(size, limit - std::min(limit, into.size())));
  return got;
}

}  // namespace

HelperResult RunHelper(const std::vector<std::string>& command, std::chrono::milliseconds limit,
                       std::size_t maxOutput) {
  HelperResult result;
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  if (command.empty()) return result;
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    for (const int fd : {out[0], out[1], err[0], err[1]}) {
      if (fd >= 0) ::close(fd);
    }
    result.outcome = HelperResult::Outcome::Failed;
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  // The helper gets default signal handling, whatever this program ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int number : {SIGINT, SIGQUIT, SIGTSTP, SIGPIPE, SIGXFSZ}) sigaddset(&defaults, number);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out[1]);
  ::close(err[1]);
  if (spawned != 0) {
    ::close(out[0]);
    ::close(err[0]);
    return result;  // Missing
  }

  // Until the helper closes its output and ends, within the limit; its error output is read on the
  // way. What a child of its keeps open is not waited for.
  const Clock::time_point deadline = Clock::now() + limit;
  ::fcntl(err[0], F_SETFL, O_NONBLOCK);
  bool outOpen = true, errOpen = true, timedOut = false, tooLong = false, chatty = false;
  int status = 0;
  for (;;) {
    if (!outOpen && ::waitpid(pid, &status, WNOHANG) == pid) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || tooLong) {
      timedOut = !tooLong;
      ::kill(pid, SIGKILL);
      status = WaitFor(pid);
      break;
    }
    pollfd ready[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    // Once the output is closed, the end of the process is looked for now and then.
    const int wait = outOpen ? static_cast<int>(left.count()) : std::min<int>(10, static_cast<int>(left.count()));
    ::poll(ready, 2, wait);
    if (ready[0].revents != 0) outOpen = Take(out[0], result.output, maxOutput, tooLong) != 0;
    if (ready[1].revents != 0) errOpen = Take(err[0], result.complaint, kComplaintLimit, chatty) != 0;
  }
  while (errOpen && Take(err[0], result.complaint, kComplaintLimit, chatty) > 0) {}
  ::close(out[0]);
  ::close(err[0]);
  result.complaint.resize(std::min(result.complaint.find('\n'), result.complaint.size()));
  if (timedOut) {
    result.outcome = HelperResult::Outcome::TimedOut;
  } else if (tooLong) {
    result.outcome = HelperResult::Outcome::TooLong;
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.outcome = HelperResult::Outcome::Failed;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    result.outcome = HelperResult::Outcome::Succeeded;
    return result;
  }
  result.output.clear();
  return result;
}

}  // namespace op
