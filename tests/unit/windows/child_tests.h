// For the Windows tests: runs some tests of this same test program in a
// child process, for what a test cannot arrange inside its own process: a
// console of its own, no console at all, or a command line of its choice.
// The child's tests are named DISABLED_ so that only a child runs them.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace op::testing {

// Runs the tests matching `filter` in a child started with `creationFlags`
// and `commandLine` (by default this program's name alone). Returns "" when
// the child ran tests and all passed, else its GoogleTest report.
inline std::string RunTestsInChild(const std::wstring& filter, DWORD creationFlags,
                                   std::wstring commandLine = {}) {
  wchar_t self[MAX_PATH + 1];
  GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  if (commandLine.empty()) commandLine = L"\"" + std::wstring(self) + L"\"";
  const std::filesystem::path report = std::filesystem::temp_directory_path() /
      ("optest-" + std::to_string(GetCurrentProcessId()) + ".xml");
  const std::pair<const wchar_t*, std::wstring> settings[] = {
      {L"GTEST_FILTER", filter},
      {L"GTEST_ALSO_RUN_DISABLED_TESTS", L"1"},
      {L"GTEST_OUTPUT", L"xml:" + report.wstring()}};
  for (const auto& [name, value] : settings) SetEnvironmentVariableW(name, value.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  DWORD exitCode = 1;
  if (CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                     nullptr, &startup, &child)) {
    // A child still running is killed; its exit code is then not 0.
    if (WaitForSingleObject(child.hProcess, 120000) != WAIT_OBJECT_0) {
      TerminateProcess(child.hProcess, 1);
    }
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  for (const auto& [name, value] : settings) SetEnvironmentVariableW(name, nullptr);
  std::string text;
  if (std::ifstream in{report}) text.assign(std::istreambuf_iterator<char>(in), {});
  std::error_code ignored;
  std::filesystem::remove(report, ignored);
  // GoogleTest exits with 0 when the filter matches no test.
  const bool ran = text.find("<testsuites tests=\"") != std::string::npos &&
                   text.find("<testsuites tests=\"0\"") == std::string::npos;
  return exitCode == 0 && ran ? "" : "exit code " + std::to_string(exitCode) + "\n" + text;
}

}  // namespace op::testing
