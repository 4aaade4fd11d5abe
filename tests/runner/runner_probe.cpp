// A stand-in process for tests of the process utilities: it reports what
// they see in this process to the file named by TALVOR_PROBE_OUTPUT, one
// item a line, texts in hexadecimal UTF-8:
//
//   pid <decimal process id>
//   dir <ExecutableDirectory()>
//   arg <each of ReadCommandLineArguments()>
//
// The report is written beside its final name and then renamed, so that a
// reader never sees half of it.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "runner/utils.h"

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace

int main() {
  wchar_t output[32768] = {};
  if (GetEnvironmentVariableW(L"TALVOR_PROBE_OUTPUT", output, 32768) == 0) return 2;
  const std::wstring final_path = output;
  const std::wstring partial_path = final_path + L".partial";
  {
    std::ofstream report(std::filesystem::path(partial_path), std::ios::binary | std::ios::trunc);
    report << "pid " << GetCurrentProcessId() << "\n";
    report << "dir " << Hex(NarrowUtf8(ExecutableDirectory())) << "\n";
    for (const std::string& argument : ReadCommandLineArguments()) {
      report << "arg " << Hex(argument) << "\n";
    }
    if (!report) return 3;
  }
  return MoveFileExW(partial_path.c_str(), final_path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
