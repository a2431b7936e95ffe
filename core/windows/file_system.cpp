// Files on Windows: names are matched as the file system matches them
// (letter case ignored, wildcards as FindFirstFile reads them), and both
// output and input files are held without sharing while they are open.
// Names come and go as UTF-8 and reach the system as UTF-16, so the file
// opened is always the one named.
#include "../file_system.h"

#include <windows.h>

#include <algorithm>

#include "system_message.h"
#include "wide_text.h"

namespace op {
namespace {

using windows::SystemMessage;
using windows::WideFromUtf8;

constexpr char kNotOrdinary[] = "not an ordinary file";

// A file another program holds is reported in the same words as on POSIX.
std::string LastReason() {
  const DWORD code = GetLastError();
  return code == ERROR_SHARING_VIOLATION ? "in use by another program" : SystemMessage(code);
}

// ReadFile and WriteFile count in DWORD.
DWORD Portion(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
}

// A handle that is closed when it goes.
struct Handle {
  HANDLE value = INVALID_HANDLE_VALUE;
  Handle() = default;
  explicit Handle(HANDLE handle) : value(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  bool Open() const { return value != INVALID_HANDLE_VALUE; }
  bool Close() {
    const HANDLE handle = value;
    value = INVALID_HANDLE_VALUE;
    return handle == INVALID_HANDLE_VALUE || CloseHandle(handle);
  }
};

class WindowsOutputFile final : public OutputFile {
 public:
  WindowsOutputFile(HANDLE file, std::wstring temporary, std::wstring target, HANDLE old)
      : file_(file), temporary_(std::move(temporary)), target_(std::move(target)), old_(old) {}
  ~WindowsOutputFile() override {
    file_.Close();
    if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
  }

  bool Write(std::string_view bytes, std::string& error) override {
    while (!bytes.empty()) {
      DWORD written = 0;
      if (!WriteFile(file_.value, bytes.data(), Portion(bytes.size()), &written, nullptr)) {
        error = LastReason();
        return false;
      }
      if (written == 0) {  // success without progress would loop for ever
        error = SystemMessage(ERROR_WRITE_FAULT);
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }

  // The old file is let go only at the last moment: a program that opens
  // it in between makes the move fail, and the old file stays whole.
  bool Commit(std::string& error) override {
    if (!FlushFileBuffers(file_.value) || !file_.Close() || !old_.Close() ||
        !MoveFileExW(temporary_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = LastReason();
      return false;
    }
    temporary_.clear();
    return true;
  }

 private:
  Handle file_;
  std::wstring temporary_;  // empty once it has become the target
  std::wstring target_;
  Handle old_;  // the old file, held without sharing, if there is one
};

class WindowsInputFile final : public InputFile {
 public:
  explicit WindowsInputFile(HANDLE handle) : file_(handle) {}

  std::ptrdiff_t Read(std::span<char> buffer, std::string& error) override {
    DWORD got = 0;
    if (!ReadFile(file_.value, buffer.data(), Portion(buffer.size()), &got, nullptr)) {
      error = LastReason();
      return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
  }

  // The same volume and file index, whatever the name.
  bool IsSameFileAs(std::string_view name) override {
    const Handle other(CreateFileW(WideFromUtf8(name).c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION mine, theirs;
    return other.Open() && GetFileInformationByHandle(file_.value, &mine) &&
           GetFileInformationByHandle(other.value, &theirs) &&
           mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           mine.nFileIndexHigh == theirs.nFileIndexHigh && mine.nFileIndexLow == theirs.nFileIndexLow;
  }

 private:
  Handle file_;
};

// CON, NUL, COM1 and the like name devices in every folder; the
// system spells their full path \\.\CON. They are refused before they are
// opened: opening one may wait for the keyboard or a port.
bool NamesADevice(const std::wstring& name) {
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(name.c_str(), MAX_PATH, full, nullptr);
  return length >= 4 && length < MAX_PATH && std::wstring_view(full, 4) == L"\\\\.\\";
}

class WindowsFileSystem final : public FileSystem {
 public:
  // Wildcards match as the system matches them; a drive or a folder alone
  // stands for everything in it. The first ordinary file among the matches
  // answers.
  bool OrdinaryFileExists(std::string_view name) override {
    if (name.empty()) return false;
    std::wstring pattern = WideFromUtf8(name);
    if (pattern.ends_with(L':') || pattern.ends_with(L'\\') || pattern.ends_with(L'/')) {
      pattern += L"*.*";
    }
    constexpr DWORD kNotOrdinary =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ordinary = false;
    do {
      ordinary = (found.dwFileAttributes & kNotOrdinary) == 0;
    } while (!ordinary && FindNextFileW(search, &found));
    FindClose(search);
    return ordinary;
  }

  std::unique_ptr<OutputFile> OpenOutput(std::string_view name, std::string& error) override {
    const std::wstring target = WideFromUtf8(name);
    // The old file, held without sharing until the new one replaces it.
    Handle old(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!old.Open() && GetLastError() != ERROR_FILE_NOT_FOUND) {
      error = LastReason();
      return nullptr;
    }
    // The new file is hidden or a system file as the old one was.
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (old.Open()) {
      BY_HANDLE_FILE_INFORMATION info;
      if (GetFileType(old.value) != FILE_TYPE_DISK ||
          !GetFileInformationByHandle(old.value, &info)) {
        error = kNotOrdinary;
        return nullptr;
      }
      const DWORD kept = info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      if (kept != 0) attributes = kept;
    }
    // Beside the old file, under a name no other run uses.
    const std::size_t cut = target.find_last_of(L"\\/:") + 1;
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
      temporary = target.substr(0, cut) + L"." + target.substr(cut) + L"." +
                  std::to_wstring((GetCurrentProcessId() * 7919u + GetTickCount() + attempt) % 1000000u);
      file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes,
                         nullptr);
      if (file == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_FILE_EXISTS || attempt > 100)) {
        error = LastReason();
        return nullptr;
      }
    }
    const HANDLE held = old.value;
    old.value = INVALID_HANDLE_VALUE;
    return std::make_unique<WindowsOutputFile>(file, temporary, target, held);
  }

  // A name with a wildcard matches files in the existence test, but is no
  // name of one file; a device (CON, NUL, a port) is no file of bits.
  std::unique_ptr<InputFile> OpenInput(std::string_view name, std::string& error) override {
    if (name.find_first_of("*?") != std::string_view::npos) {
      error = "the name holds a wildcard";
      return nullptr;
    }
    const std::wstring wide = WideFromUtf8(name);
    if (NamesADevice(wide)) {
      error = kNotOrdinary;
      return nullptr;
    }
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastReason();
      return nullptr;
    }
    auto file = std::make_unique<WindowsInputFile>(handle);
    if (GetFileType(handle) != FILE_TYPE_DISK) {
      error = kNotOrdinary;
      return nullptr;
    }
    return file;
  }
};

}  // namespace

std::unique_ptr<FileSystem> MakePlatformFileSystem() {
  return std::make_unique<WindowsFileSystem>();
}

}  // namespace op
