#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "cli/platform.h"

namespace morvane::cli {

const char* const kSourceHelp =
    "SOURCE is a raw image file (card.img), a whole disk (/dev/sdb, /dev/nvme0n1, /dev/mmcblk0) or a "
    "partition (/dev/sdb1). Reading devices needs root: run the command with sudo.";

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

bool IsDevicePath(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

std::string FolderSourceHint(const std::string&) { return {}; }

std::string DeviceAccessHint() {
  return ::geteuid() == 0 ? "\nThe system refused even though morvane runs as root: the device may be locked, "
                            "in use by another program, or faulty."
                          : "\nReading a device needs root: run the same command with sudo in front "
                            "(sudo morvane ...).";
}

std::string Sha256Of(const std::function<int64_t(char*, int64_t)>& next) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  std::vector<char> buf(1 << 20);
  for (int64_t n; (n = next(buf.data(), static_cast<int64_t>(buf.size()))) != 0;) {
    if (n < 0) return {};
    EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<size_t>(n));
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  EVP_DigestFinal_ex(ctx.get(), md, &len);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < len; ++i) out += {hex[md[i] >> 4], hex[md[i] & 15]};
  return out;
}

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }
bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

}  // namespace morvane::cli
