#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <system_error>

#include "storage/streams.h"
#include "storage/win_text.h"

namespace morvane {

int64_t FileSeek64(int fd, int origin, int64_t offset) {
  int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
  return _lseeki64(fd, offset, whence);
}

int64_t TNTHandleStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const unsigned want = static_cast<unsigned>(std::min<int64_t>(count - done, INT_MAX / 2));
    int n = _read(handle_, out + done, want);
    if (n < 0) return 0;
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TNTHandleStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const unsigned want = static_cast<unsigned>(std::min<int64_t>(count - done, INT_MAX / 2));
    int n = _write(handle_, in + done, want);
    if (n <= 0) return 0;  // a short write (disk full) is a failed write
    done += n;
  }
  return done;
}

int64_t TNTHandleStream::Seek(int64_t offset, int origin) { return FileSeek64(handle_, origin, offset); }

void TNTHandleStream::SetSize(int64_t size) {
  FileSeek64(handle_, soBeginning, size);
  if (int e = _chsize_s(handle_, size); e != 0) throw std::system_error(e, std::generic_category(), "set end of file");
}

namespace {

// The sharing bits of a mode as the C runtime's share flags: deny-none lets others read and
// write, deny-write lets them read, deny-read and exclusive let nobody in.
int ShareFlags(uint16_t mode) {
  switch ((mode >> 4) & 0xF) {
    case 2: return _SH_DENYWR;
    case 4: return _SH_DENYNO;
    case 0:
    case 1:
    case 3: return _SH_DENYRW;
    default: return _SH_DENYNO;
  }
}

int OpenWithMode(const std::string& name, uint16_t mode) {
  const std::wstring path = win::FilePath(name);
  int flags = _O_BINARY | _O_NOINHERIT, share = _SH_DENYNO;
  if (mode == fmCreate) {
    flags |= _O_RDWR | _O_CREAT | _O_TRUNC;
  } else if (mode == fmCreateNew) {
    // Fails when the name is taken by anything, a link included: nothing is followed.
    flags |= _O_RDWR | _O_CREAT | _O_EXCL;
  } else {
    int access = mode & 3;
    flags |= access == 0 ? _O_RDONLY : access == 1 ? _O_WRONLY : _O_RDWR;
    share = ShareFlags(mode);
  }
  int fd = -1;
  if (_wsopen_s(&fd, path.c_str(), flags, share, _S_IREAD | _S_IWRITE) != 0) return -1;
  return fd;
}

}  // namespace

TNewFileStream::TNewFileStream(const std::string& fileName, uint16_t mode)
    : TNTHandleStream(OpenWithMode(fileName, mode)), fileHandle_(handle_) {}

// No folder is ever held open here (HoldFolder gives -1): `name` is the whole path.
TNewFileStream::TNewFileStream(int, const std::string& name, uint16_t mode)
    : TNTHandleStream(OpenWithMode(name, mode)), fileHandle_(handle_) {}

TNewFileStream::~TNewFileStream() {
  if (handle_ >= 0) _close(handle_);
}

}  // namespace morvane
