#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include <io.h>

#include <cctype>

#include "cli/platform.h"
#include "storage/win_text.h"

namespace morvane::cli {

const char* const kSourceHelp =
    "SOURCE is a raw image file (card.img), a volume (\\\\.\\E:) or a whole disk (\\\\.\\PhysicalDrive1). "
    "Reading devices needs an administrator prompt: open the Command Prompt with \"Run as administrator\".";

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  SetConsoleOutputCP(CP_UTF8);
  // Redrawn progress lines use the console's VT sequences.
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(err, &mode)) SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(win::Utf8(wide[i]));
  LocalFree(wide);
  return args;
}

bool IsDevicePath(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0; }

std::string DeviceAccessHint() {
  return "\nReading a device needs an administrator prompt: open the Command Prompt with \"Run as administrator\" "
         "and run the same command there.";
}

std::string FolderSourceHint(const std::string& path) {
  const bool driveLetter = path.size() >= 2 && path.size() <= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                           path[1] == ':' && (path.size() == 2 || path[2] == '\\' || path[2] == '/');
  if (!driveLetter) return {};
  const std::string volume = "\\\\.\\" + path.substr(0, 2);
  return "\nTo read the whole volume " + path.substr(0, 2) + ", name it " + volume + " (from an administrator prompt).";
}

std::string Sha256Of(const std::function<int64_t(char*, int64_t)>& next) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return {};
  std::string out;
  unsigned char md[32];
  if (BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
    std::vector<char> buf(1 << 20);
    bool ok = true;
    for (int64_t n; ok && (n = next(buf.data(), static_cast<int64_t>(buf.size()))) != 0;)
      ok = n > 0 && BCryptHashData(hash, reinterpret_cast<PUCHAR>(buf.data()), static_cast<ULONG>(n), 0) == 0;
    if (ok && BCryptFinishHash(hash, md, sizeof md, 0) == 0) {
      static const char* hex = "0123456789abcdef";
      for (unsigned char c : md) out += {hex[c >> 4], hex[c & 15]};
    }
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(alg, 0);
  return out;
}

bool InputIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool ErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace morvane::cli
