// Files on Windows: names are matched as the file system matches them
// (letter case ignored, wildcards as FindFirstFile reads them), and both
// output and input files are held without sharing while they are open.
#include "../file_system.h"

#include <windows.h>

#include <algorithm>

#include "system_message.h"
#include "wide_text.h"

namespace op {
namespace {

using windows::SystemMessage;
using windows::WideFromCodePage;

std::string LastReason() { return SystemMessage(GetLastError()); }

// ReadFile and WriteFile count in DWORD.
DWORD Portion(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
}

class WindowsOutputFile final : public OutputFile {
 public:
  explicit WindowsOutputFile(HANDLE handle) : handle_(handle) {}
  ~WindowsOutputFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  bool Write(std::string_view bytes, std::string& error) override {
    while (!bytes.empty()) {
      DWORD written = 0;
      if (!WriteFile(handle_, bytes.data(), Portion(bytes.size()), &written, nullptr)) {
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

  bool Close(std::string& error) override {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    bool ok = true;
    if (!SetEndOfFile(handle)) {
      error = LastReason();
      ok = false;
    }
    if (!CloseHandle(handle) && ok) {
      error = LastReason();
      ok = false;
    }
    return ok;
  }

 private:
  HANDLE handle_;
};

class WindowsInputFile final : public InputFile {
 public:
  explicit WindowsInputFile(HANDLE handle) : handle_(handle) {}
  ~WindowsInputFile() override { CloseHandle(handle_); }

  std::ptrdiff_t Read(std::span<char> buffer, std::string& error) override {
    DWORD got = 0;
    if (!ReadFile(handle_, buffer.data(), Portion(buffer.size()), &got, nullptr)) {
      error = LastReason();
      return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
  }

 private:
  HANDLE handle_;
};

DirectoryEntry EntryOf(const WIN32_FIND_DATAW& found) {
  DirectoryEntry entry;
  entry.name = windows::CodePageFromWide(found.cFileName);
  entry.directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.hidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
  entry.system = (found.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
  return entry;
}

class WindowsFileSystem final : public FileSystem {
 public:
  bool FindEntry(std::string_view pattern,
                 const std::function<bool(const DirectoryEntry&)>& accept) override {
    if (pattern.empty()) return false;
    std::wstring name = WideFromCodePage(pattern);
    // A drive or a folder alone stands for everything in it.
    if (name.ends_with(L':') || name.ends_with(L'\\') || name.ends_with(L'/')) name += L"*.*";
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(name.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool accepted = false;
    do {
      accepted = accept(EntryOf(found));
    } while (!accepted && FindNextFileW(search, &found));
    FindClose(search);
    return accepted;
  }

  std::unique_ptr<OutputFile> OpenOutput(std::string_view name, std::string& error) override {
    // OPEN_ALWAYS rather than CREATE_ALWAYS: the old content goes only once
    // the file is held, so a file another program holds is left whole.
    const HANDLE handle = CreateFileW(WideFromCodePage(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastReason();
      return nullptr;
    }
    if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(handle)) {
      error = LastReason();
      CloseHandle(handle);
      return nullptr;
    }
    return std::make_unique<WindowsOutputFile>(handle);
  }

  std::unique_ptr<InputFile> OpenInput(std::string_view name, std::string& error) override {
    const HANDLE handle = CreateFileW(WideFromCodePage(name).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastReason();
      return nullptr;
    }
    return std::make_unique<WindowsInputFile>(handle);
  }
};

}  // namespace

std::unique_ptr<FileSystem> MakePlatformFileSystem() {
  return std::make_unique<WindowsFileSystem>();
}

}  // namespace op
