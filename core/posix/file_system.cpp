// Files on POSIX: a name is taken as it stands ('*' and '?' too); an ordinary file is a regular
// file, links followed. A file is replaced by renaming a finished temporary file over it.
#include "../file_system.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pending_file.h"

namespace op {
namespace {

constexpr char kNotOrdinary[] = "not an ordinary file";

std::string Reason(int error) { return std::strerror(error); }

// Why a file that exists cannot be used as an ordinary file, or "".
std::string Unordinary(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return {};
  return S_ISDIR(info.st_mode) ? Reason(EISDIR) : kNotOrdinary;
}

// The temporary file being made, where a signal handler can reach it without allocating.
char gPending[PATH_MAX];
volatile sig_atomic_t gHasPending = 0;

// The file a name finally stands for: a symbolic link stays, the file it points to is replaced.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length <= 0) break;
    target.resize(static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    if (target.front() != '/' && slash != std::string::npos) target.insert(0, path, 0, slash + 1);
    path = std::move(target);
  }
  return path;
}

void SyncDirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // the rename itself reaches the disk; nothing to report if not
  ::close(fd);
}

class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile(int fd, std::string temporary, std::string target, int old)
      : fd_(fd), temporary_(std::move(temporary)), target_(std::move(target)), old_(old) {
    if (temporary_.size() >= sizeof gPending) return;
    std::memcpy(gPending, temporary_.c_str(), temporary_.size() + 1);
    gHasPending = 1;
  }
  ~PosixOutputFile() override {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    gHasPending = 0;
    if (old_ >= 0) ::close(old_);  // and with it the lock
  }

  bool Write(std::string_view bytes, std::string& error) override {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
      if (written < 0) {
        if (errno == EINTR) continue;
        error = Reason(errno);
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  bool Commit(std::string& error) override {
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
      error = Reason(errno);
      return false;
    }
    gHasPending = 0;
    temporary_.clear();
    SyncDirectoryOf(target_);
    return true;
  }

 private:
  int fd_;
  std::string temporary_;  // empty once it has become the target
  std::string target_;
  int old_;  // the old file, locked, or -1
};

class PosixInputFile final : public InputFile {
 public:
  PosixInputFile(int fd, const struct stat& info) : fd_(fd), device_(info.st_dev), inode_(info.st_ino) {}
  ~PosixInputFile() override { ::close(fd_); }

  std::ptrdiff_t Read(std::span<char> buffer, std::string& error) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
      if (got >= 0) return got;
      if (errno == EINTR) continue;
      error = Reason(errno);
      return -1;
    }
  }

  bool IsSameFileAs(std::string_view name) override {
    struct stat info {};
    return ::stat(std::string(name).c_str(), &info) == 0 && info.st_dev == device_ &&
           info.st_ino == inode_;
  }

 private:
  int fd_;
  dev_t device_;
  ino_t inode_;
};

class PosixFileSystem final : public FileSystem {
 public:
  bool OrdinaryFileExists(std::string_view name) override {
    struct stat info {};
    return !name.empty() && ::stat(std::string(name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
  }

  std::unique_ptr<OutputFile> OpenOutput(std::string_view name, std::string& error) override {
    const std::string target = FollowLinks(std::string(name));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode_t mode = 0666 & ~mask;
    struct stat info {};
    // Held, locked, until replaced; not blocking, so a pipe there without a reader fails at once.
    const int old = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    auto fail = [&](std::string reason) {
      if (old >= 0) ::close(old);
      error = std::move(reason);
      return nullptr;
    };
    if (old < 0 && errno != ENOENT) return fail(errno == ENXIO ? kNotOrdinary : Reason(errno));
    if (old >= 0) {
      if (::fstat(old, &info) != 0) return fail(Reason(errno));
      if (const std::string why = Unordinary(info); !why.empty()) return fail(why);
      if (::flock(old, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno == EWOULDBLOCK ? "in use by another program" : Reason(errno));
      }
      mode = info.st_mode & 07777;
    }
    // Beside the old file (the rename stays on one file system), unique (no leftover is reused).
    const auto slash = target.rfind('/');
    std::string temporary = target;
    temporary.insert(slash == std::string::npos ? 0 : slash + 1, ".");
    temporary += ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return fail(Reason(errno));
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // Only root's runs may keep another owner; others make the file theirs.
    if (old >= 0) (void)!::fchown(fd, info.st_uid, info.st_gid);
    ::fchmod(fd, mode);
    return std::make_unique<PosixOutputFile>(fd, std::move(temporary), target, old);
  }

  std::unique_ptr<InputFile> OpenInput(std::string_view name, std::string& error) override {
    const std::string path(name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      error = Reason(errno);
      return nullptr;
    }
    // Checked on what was opened, not on the name: the name may stand for something else by now.
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      error = Reason(errno);
    } else {
      error = Unordinary(info);
    }
    if (!error.empty()) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixInputFile>(fd, info);
  }
};

}  // namespace

void RemovePendingFile() {
  if (gHasPending) ::unlink(gPending);
}

std::unique_ptr<FileSystem> MakePlatformFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace op
