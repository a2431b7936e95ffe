// Files on POSIX: an ordinary file is a regular file (links followed);
// wildcards match as fnmatch does, and a name starting with a dot only
// matches a pattern that starts with a dot.
#include "../file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace op {
namespace {

std::string Reason(int error) { return std::strerror(error); }

DirectoryEntry EntryOf(std::string name, const struct stat& info) {
  DirectoryEntry entry;
  entry.name = std::move(name);
  entry.directory = S_ISDIR(info.st_mode);
  entry.special = !entry.directory && !S_ISREG(info.st_mode);
  return entry;
}

class PosixOutputFile final : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : fd_(fd) {}
  ~PosixOutputFile() override {
    if (fd_ >= 0) ::close(fd_);
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

  bool Close(std::string& error) override {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
      error = Reason(errno);
      return false;
    }
    return true;
  }

 private:
  int fd_;
};

class PosixInputFile final : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
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

 private:
  int fd_;
};

class PosixFileSystem final : public FileSystem {
 public:
  bool FindEntry(std::string_view pattern,
                 const std::function<bool(const DirectoryEntry&)>& accept) override {
    const std::string path(pattern);
    if (path.empty()) return false;
    if (path.find_first_of("*?") == std::string::npos) {
      // A plain name: the file system itself decides how names compare.
      struct stat info {};
      if (::stat(path.c_str(), &info) != 0) return false;
      return accept(EntryOf(path.substr(path.rfind('/') + 1), info));
    }
    const auto slash = path.rfind('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return false;
    bool found = false;
    while (!found) {
      const dirent* item = ::readdir(dir);
      if (item == nullptr) break;
      if (::fnmatch(base.c_str(), item->d_name, FNM_PERIOD) != 0) continue;
      struct stat info {};
      if (::fstatat(::dirfd(dir), item->d_name, &info, 0) != 0) continue;
      found = accept(EntryOf(item->d_name, info));
    }
    ::closedir(dir);
    return found;
  }

  std::unique_ptr<OutputFile> OpenOutput(std::string_view name, std::string& error) override {
    const std::string path(name);
    // Non-blocking only for the open, so a pipe of that name without a
    // reader fails at once instead of hanging.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
      error = Reason(errno);
      return nullptr;
    }
    auto fail = [&](std::string reason) {
      ::close(fd);
      error = std::move(reason);
      return nullptr;
    };
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      return fail(errno == EWOULDBLOCK ? "in use by another program" : Reason(errno));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(Reason(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0) return fail(Reason(errno));
    // Devices such as /dev/null cannot be cut; only a regular file must be.
    if (S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) return fail(Reason(errno));
    return std::make_unique<PosixOutputFile>(fd);
  }

  std::unique_ptr<InputFile> OpenInput(std::string_view name, std::string& error) override {
    const std::string path(name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      error = Reason(errno);
      return nullptr;
    }
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      error = Reason(errno);
      ::close(fd);
      return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
      error = Reason(EISDIR);
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixInputFile>(fd);
  }
};

}  // namespace

std::unique_ptr<FileSystem> MakePlatformFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace op
