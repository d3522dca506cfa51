#include <windows.h>

#include <fstream>
#include <sstream>

#include "tests/host/process_runner.h"

namespace host_test {
namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &wide[0], length);
  return wide;
}

// Quoted the way CommandLineToArgvW splits it again.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() &&
      argument.find_first_of(L" \t\"") == std::wstring::npos)
    return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

HANDLE InheritableFile(const std::wstring& path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &security, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string text;
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  CloseHandle(file);
  return text;
}

}  // namespace

ProcessResult RunProcess(const ProcessOptions& options) {
  ProcessResult result;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring stem = std::wstring(temp) + L"snapferry_process_" +
                            std::to_wstring(GetCurrentProcessId()) + L"_" +
                            std::to_wstring(GetTickCount64());
  const std::wstring out_path = stem + L".out";
  const std::wstring err_path = stem + L".err";
  HANDLE out = InheritableFile(out_path, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = InheritableFile(err_path, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE in = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);

  std::wstring command_line = Quote(Wide(options.program));
  for (const std::string& argument : options.arguments) {
    command_line += L" " + Quote(Wide(argument));
  }

  // The child inherits this process's environment, changed for the call.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const auto& [name, value] : options.environment) {
    wchar_t old[32768];
    const DWORD length =
        GetEnvironmentVariableW(Wide(name).c_str(), old, 32768);
    saved.emplace_back(Wide(name),
                       length > 0 ? std::wstring(old, length) : L"");
    SetEnvironmentVariableW(Wide(name).c_str(),
                            value.empty() ? nullptr : Wide(value).c_str());
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  const std::wstring directory = Wide(options.working_directory);
  const BOOL created = CreateProcessW(
      nullptr, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
      directory.empty() ? nullptr : directory.c_str(), &startup, &process);

  for (const auto& [name, value] : saved) {
    SetEnvironmentVariableW(name.c_str(),
                            value.empty() ? nullptr : value.c_str());
  }
  CloseHandle(out);
  CloseHandle(err);
  CloseHandle(in);

  if (created) {
    result.started = true;
    const DWORD waited = WaitForSingleObject(
        process.hProcess, static_cast<DWORD>(options.timeout.count() * 1000));
    if (waited != WAIT_OBJECT_0) {
      result.timed_out = true;
      TerminateProcess(process.hProcess, 124);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exit_code = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  result.out = ReadAll(out_path);
  result.err = ReadAll(err_path);
  DeleteFileW(out_path.c_str());
  DeleteFileW(err_path.c_str());
  return result;
}

}  // namespace host_test
