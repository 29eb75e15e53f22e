// File streams with 64-bit positions, and the small file helpers built on them.
//
// Every file Morvane writes (recovered files, image backups, work files) or loads
// (settings, branding) goes through these. None of them is ever used on the source.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvane {

// Origins of FileSeek64 and TNTHandleStream::Seek.
inline constexpr int soBeginning = 0;
inline constexpr int soCurrent = 1;
inline constexpr int soEnd = 2;

// Open modes: 0xFFFF creates (or truncates); 0xFFFE creates a new file and fails when the
// name is taken by anything at all (a file, a folder, a symbolic link, even a dangling one);
// anything else opens an existing file with access in the low two bits and sharing in bits 4..7.
inline constexpr uint16_t fmCreate = 0xFFFF;
inline constexpr uint16_t fmCreateNew = 0xFFFE;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

// Moves the file pointer of `fd`; returns the new position, or -1 on failure.
int64_t FileSeek64(int fd, int origin, int64_t offset);

// A stream over an OS file descriptor that it does not own.
class TNTHandleStream {
 public:
  explicit TNTHandleStream(int fd) : handle_(fd) {}
  virtual ~TNTHandleStream() = default;
  TNTHandleStream(const TNTHandleStream&) = delete;
  TNTHandleStream& operator=(const TNTHandleStream&) = delete;

  // Transfers up to count bytes; returns the count transferred, 0 on failure (never -1).
  int64_t Read(void* buffer, int64_t count);
  int64_t Write(const void* buffer, int64_t count);

  int64_t Seek(int64_t offset, int origin);
  int64_t Size();
  int64_t Position();
  void SetPosition(int64_t position);
  // Seeks to size and cuts (or extends) the file there; throws std::system_error on failure.
  void SetSize(int64_t size);

  int Handle() const { return handle_; }

 protected:
  int handle_;
};

// A file stream that opens (or creates) its file itself and closes it when destroyed.
// The constructor does not throw: FileHandle() is -1 when the open failed.
class TNewFileStream : public TNTHandleStream {
 public:
  TNewFileStream(const std::string& fileName, uint16_t mode);
  // The file `name` in the folder open as `dir` (openat), whatever that folder is called now.
  TNewFileStream(int dir, const std::string& name, uint16_t mode);
  ~TNewFileStream() override;
  int FileHandle() const { return fileHandle_; }

 private:
  int fileHandle_;
};

// Opens an output file. nullptr when the file cannot be opened (errno tells why). A file's
// permissions are never changed: a read-only file stays read-only.
std::unique_ptr<TNewFileStream> OpenOutputFileStream(const std::string& fileName, uint16_t mode);

// A growable in-memory stream with a position.
class MemoryStream {
 public:
  std::vector<uint8_t>& Bytes() { return bytes_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  int64_t Size() const { return static_cast<int64_t>(bytes_.size()); }
  void SetSize(int64_t size) { bytes_.resize(static_cast<size_t>(size)); }
  int64_t Position() const { return position_; }
  void SetPosition(int64_t p) { position_ = p; }
  int64_t Read(void* buffer, int64_t count);
  int64_t Write(const void* buffer, int64_t count);

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
};

// Loads a whole file (opened read, deny write); retries the open every 100 ms, eleven
// tries in all. The stream is rewound. False only when every open failed.
bool LoadFileToStream(MemoryStream& stream, const std::string& fileName);
// Loads a text file as lines (split at CR, LF or CR LF).
bool LoadListFromFile(std::vector<std::string>& lines, const std::string& fileName);
// Reads bytes from the position up to the next NUL (or the end); leaves the position after it.
std::string ReadNulString(MemoryStream& stream);

// "50.00%": done of total in hundredths of a percent.
std::string FormatPercent(int64_t total, int64_t done);
// "465.76GB", "19.07MB", ".50MB".
std::string FormatDiskSize(int64_t bytes);

}  // namespace morvane
