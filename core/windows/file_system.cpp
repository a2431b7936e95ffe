// Files on Windows, matched as the system matches names and held unshared while open. Names go
// from UTF-8 to UTF-16, so the file opened is always the one named.
#include "../file_system.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "wide_text.h"

namespace op {
namespace {

using windows::WideFromUtf8;

constexpr char kNotOrdinary[] = "not an ordinary file";

// The system's words for an error, without the full stop; a sharing violation in POSIX's words.
std::string Reason(DWORD code = GetLastError()) {
  if (code == ERROR_SHARING_VIOLATION) return "in use by another program";
  wchar_t text[512];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, 512, nullptr);
  std::string message = windows::CodePageFromWide({text, length});
  message.erase(message.find_last_not_of("\r\n. ") + 1);
  return message.empty() ? "system error " + std::to_string(code) : message;
}

// ReadFile and WriteFile count in DWORD.
DWORD Portion(std::size_t size) { return static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)); }

struct Handle {
  HANDLE value = INVALID_HANDLE_VALUE;
  Handle(HANDLE handle = INVALID_HANDLE_VALUE) : value(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  bool Open() const { return value != INVALID_HANDLE_VALUE; }
  bool Close() {
    const HANDLE handle = std::exchange(value, INVALID_HANDLE_VALUE);
    return handle == INVALID_HANDLE_VALUE || CloseHandle(handle);
  }
};

struct WindowsOutputFile final : OutputFile {
  Handle file;
  Handle old;  // the old file, held without sharing, if there is one
  std::wstring target;
  std::wstring temporary;  // empty until made, and once it has become the target

  ~WindowsOutputFile() override {
    file.Close();
    if (!temporary.empty()) DeleteFileW(temporary.c_str());
  }

  bool Write(std::string_view bytes, std::string& error) override {
    while (!bytes.empty()) {
      DWORD written = 0;
      if (!WriteFile(file.value, bytes.data(), Portion(bytes.size()), &written, nullptr)) {
        error = Reason();
        return false;
      }
      if (written == 0) {  // success without progress would loop for ever
        error = Reason(ERROR_WRITE_FAULT);
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }

  // The old file is let go last: should a program open it in between, the move fails; it stays.
  bool Commit(std::string& error) override {
    if (!FlushFileBuffers(file.value) || !file.Close() || !old.Close() ||
        !MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = Reason();
      return false;
    }
    temporary.clear();
    return true;
  }
};

struct WindowsInputFile final : InputFile {
  Handle file;

  std::ptrdiff_t Read(std::span<char> buffer, std::string& error) override {
    DWORD got = 0;
    if (!ReadFile(file.value, buffer.data(), Portion(buffer.size()), &got, nullptr)) {
      error = Reason();
      return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
  }

  bool IsSameFileAs(std::string_view name) override {
    const Handle other(CreateFileW(WideFromUtf8(name).c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION mine, theirs;
    return other.Open() && GetFileInformationByHandle(file.value, &mine) &&
           GetFileInformationByHandle(other.value, &theirs) &&
           mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           mine.nFileIndexHigh == theirs.nFileIndexHigh && mine.nFileIndexLow == theirs.nFileIndexLow;
  }
};

// CON, NUL, COM1 and the like name devices in every folder (full path \\.\CON). They are refused
// unopened: opening one may wait for the keyboard or a port.
bool NamesADevice(const std::wstring& name) {
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(name.c_str(), MAX_PATH, full, nullptr);
  return length >= 4 && length < MAX_PATH && std::wstring_view(full, 4) == L"\\\\.\\";
}

struct WindowsFileSystem final : FileSystem {
  // Wildcards match as the system matches them; a drive or a folder alone stands for all in it.
  bool OrdinaryFileExists(std::string_view name) override {
    if (name.empty()) return false;
    std::wstring pattern = WideFromUtf8(name);
    if (pattern.ends_with(L':') || pattern.ends_with(L'\\') || pattern.ends_with(L'/')) {
      pattern += L"*.*";
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ordinary = false;
    do {
      ordinary = (found.dwFileAttributes &
                  (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
    } while (!ordinary && FindNextFileW(search, &found));
    FindClose(search);
    return ordinary;
  }

  std::unique_ptr<OutputFile> OpenOutput(std::string_view name, std::string& error) override {
    auto output = std::make_unique<WindowsOutputFile>();
    const std::wstring& target = output->target = WideFromUtf8(name);
    output->old.value = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!output->old.Open() && GetLastError() != ERROR_FILE_NOT_FOUND) {
      error = Reason();
      return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (output->old.Open() && (GetFileType(output->old.value) != FILE_TYPE_DISK ||
                               !GetFileInformationByHandle(output->old.value, &info))) {
      error = kNotOrdinary;
      return nullptr;
    }
    // The new file is hidden or a system file as the old one was.
    const DWORD kept = info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    // Beside the old file, under a name no other run uses.
    const std::size_t cut = target.find_last_of(L"\\/:") + 1;
    for (unsigned attempt = 0;; ++attempt) {
      std::wstring temporary = target.substr(0, cut) + L"." + target.substr(cut) + L"." +
          std::to_wstring((GetCurrentProcessId() * 7919u + GetTickCount() + attempt) % 1000000u);
      output->file.value = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, nullptr);
      if (output->file.Open()) {
        output->temporary = std::move(temporary);
        return output;
      }
      if (GetLastError() != ERROR_FILE_EXISTS || attempt > 100) {
        error = Reason();
        return nullptr;
      }
    }
  }

  // A wildcard matches files in the existence test but names no one file; a device holds no bits.
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
    auto input = std::make_unique<WindowsInputFile>();
    input->file.value = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!input->file.Open()) {
      error = Reason();
      return nullptr;
    }
    if (GetFileType(input->file.value) != FILE_TYPE_DISK) {
      error = kNotOrdinary;
      return nullptr;
    }
    return input;
  }
};

}  // namespace

std::unique_ptr<FileSystem> MakePlatformFileSystem() {
  return std::make_unique<WindowsFileSystem>();
}

}  // namespace op
