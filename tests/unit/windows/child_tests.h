// For the Windows tests: runs some tests of this same test program in a
// child process, for what a test cannot arrange inside its own process: a
// console of its own, no console at all, or a command line of its choice.
// The child's tests are named DISABLED_ so that only a child runs them.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace op::testing {

struct ChildRun {
  DWORD exitCode = 1;
  std::string report;  // the child's GoogleTest report (XML)

  // The number of tests the child ran, from its report; -1 without one.
  int TestsRun() const {
    const std::string key = "<testsuites tests=\"";
    const auto at = report.find(key);
    if (at == std::string::npos) return -1;
    return std::atoi(report.c_str() + at + key.size());
  }
};

inline bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline std::wstring TempFileName() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, folder);
  GetTempFileNameW(folder, L"opt", 0, name);
  return name;
}

inline std::string ReadWholeFile(const std::wstring& name) {
  std::ifstream in(std::filesystem::path(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Sets environment variables for the life of the object, then puts back
// what was there before.
class EnvironmentOverride {
 public:
  void Set(const wchar_t* name, const std::wstring& value) {
    wchar_t old[32767];
    const DWORD length = GetEnvironmentVariableW(name, old, 32767);
    saved_.push_back({name, length > 0 ? std::optional<std::wstring>(old) : std::nullopt});
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~EnvironmentOverride() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }
  }

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

// Runs the tests matching `filter` in a child started with
// `creationFlags`; `commandLine` replaces the plain one naming this
// program.
inline ChildRun RunTestsInChild(const std::wstring& filter, DWORD creationFlags,
                                std::wstring commandLine = {}) {
  wchar_t self[MAX_PATH + 1];
  GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  if (commandLine.empty()) commandLine = L"\"" + std::wstring(self) + L"\"";
  const std::wstring reportName = TempFileName();

  ChildRun run;
  {
    EnvironmentOverride environment;
    environment.Set(L"GTEST_FILTER", filter);
    environment.Set(L"GTEST_ALSO_RUN_DISABLED_TESTS", L"1");
    environment.Set(L"GTEST_OUTPUT", L"xml:" + reportName);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                        nullptr, &startup, &child)) {
      run.report = "CreateProcessW failed: " + std::to_string(GetLastError());
      DeleteFileW(reportName.c_str());
      return run;
    }
    if (WaitForSingleObject(child.hProcess, 120000) != WAIT_OBJECT_0) {
      TerminateProcess(child.hProcess, 1);
      WaitForSingleObject(child.hProcess, INFINITE);
    }
    GetExitCodeProcess(child.hProcess, &run.exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  run.report = ReadWholeFile(reportName);
  DeleteFileW(reportName.c_str());
  return run;
}

}  // namespace op::testing
