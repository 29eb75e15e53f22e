#include "scan/recovered_file.h"

#include <cerrno>
#include <mutex>
#include <set>
#include <vector>

#include "scan/scan_context.h"
#include "scan/scan_state.h"
#include "storage/files.h"

namespace morvane {

std::string SectorName(int64_t byteOffset) {
  uint64_t v = static_cast<uint64_t>(byteOffset) >> 9;
  std::string name(8, 'A');
  for (int i = 7; i >= 0; --i) {
    name[static_cast<size_t>(i)] = static_cast<char>('A' + v % 26);
    v /= 26;
  }
  return name;
}

std::string RecoveredFileName(const std::string& folder, int64_t byteOffset, const std::string& extension) {
  return folder + "TEST_" + SectorName(byteOffset) + extension;
}

std::string PartialFileName(const std::string& fileName) { return fileName + ".part"; }

std::string FileExtension(const std::string& fileName) {
  size_t slash = fileName.find_last_of('/');
  size_t dot = fileName.find('.', slash == std::string::npos ? 0 : slash + 1);
  return dot == std::string::npos ? std::string() : fileName.substr(dot);
}

std::string NumberedFileName(const std::string& fileName, int n) {
  const std::string extension = FileExtension(fileName);
  std::string stem = fileName.substr(0, fileName.size() - extension.size());
  const size_t slash = stem.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t digits = stem.size();
  while (digits > nameStart && stem[digits - 1] >= '0' && stem[digits - 1] <= '9') --digits;
  if (digits < stem.size() && digits > nameStart + 1 && stem[digits - 1] == '_') stem.resize(digits - 1);
  if (n > 0) stem += "_" + std::to_string(n);
  return stem + extension;
}

namespace {

// How many alternatives of a name are tried before the folder counts as unusable.
constexpr int kMaxAlternatives = 10000;

// The open output folders, by the name their files begin with; each with its users.
struct OpenFolder {
  std::string folder;
  int fd;
  int users;
};
std::mutex& FolderLock() {
  static std::mutex lock;
  return lock;
}
std::vector<OpenFolder>& OpenFolders() {
  static std::vector<OpenFolder> folders;
  return folders;
}

// Where a path is reached: through its open folder when it names a file directly in one,
// else as it is written.
struct At {
  int dir;
  std::string name;
};
At Where(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos) {
    std::lock_guard<std::mutex> hold(FolderLock());
    for (const OpenFolder& f : OpenFolders())
      if (f.folder.size() == slash + 1 && path.compare(0, slash + 1, f.folder) == 0) return {f.fd, path.substr(slash + 1)};
  }
  return {kWorkingFolder, path};
}

std::mutex& InProgressLock() {
  static std::mutex lock;
  return lock;
}
std::set<std::string>& InProgress() {
  static std::set<std::string> files;
  return files;
}

std::mutex& JournalLock() {
  static std::mutex lock;
  return lock;
}
std::function<void(const std::string&, bool)>& Journal() {
  static std::function<void(const std::string&, bool)> note;
  return note;
}
// Every name is noted before the file takes it, so that a scan cut off at any moment finds
// all it made; a name that was not taken after all is noted so (errno is kept).
void NoteInJournal(const std::string& path, bool taken = true) {
  const int error = errno;
  std::lock_guard<std::mutex> hold(JournalLock());
  if (Journal()) Journal()(path, taken);
  errno = error;
}
void NoteTakenNot(const std::string& path) { NoteInJournal(path, false); }

bool NameTaken(const std::string& path) {
  const At at = Where(path);
  return NameTakenIn(at.dir, at.name);
}

void Unlink(const std::string& path) {
  const At at = Where(path);
  RemoveFileIn(at.dir, at.name);
}

// Renames without ever replacing the target; false with errno (EEXIST when it is taken).
bool RenameNoReplace(const std::string& from, const std::string& to) {
  const At a = Where(from), b = Where(to);
  return RenameNoReplaceIn(a.dir, a.name, b.dir, b.name);
}

}  // namespace

OutputFolderHandle::OutputFolderHandle(const std::string& folder) : folder_(folder) {
  std::lock_guard<std::mutex> hold(FolderLock());
  for (OpenFolder& f : OpenFolders())
    if (f.folder == folder) {
      ++f.users;
      held_ = true;
      return;
    }
  const int fd = HoldFolder(folder);
  if (fd < 0) return;
  OpenFolders().push_back({folder, fd, 1});
  held_ = true;
}

OutputFolderHandle::~OutputFolderHandle() {
  if (!held_) return;
  std::lock_guard<std::mutex> hold(FolderLock());
  auto& folders = OpenFolders();
  for (auto it = folders.begin(); it != folders.end(); ++it)
    if (it->folder == folder_ && --it->users == 0) {
      ReleaseFolder(it->fd);
      folders.erase(it);
      return;
    }
}

std::unique_ptr<TNewFileStream> CreateFileInProgress(const std::string& path) {
  std::lock_guard<std::mutex> hold(InProgressLock());
  const At at = Where(path);
  auto stream = std::make_unique<TNewFileStream>(at.dir, at.name, fmCreateNew);
  if (stream->FileHandle() == -1) return nullptr;
  InProgress().insert(path);
  return stream;
}

void ListFileInProgress(const std::string& path) {
  std::lock_guard<std::mutex> hold(InProgressLock());
  InProgress().insert(path);
}

void ForgetFileInProgress(const std::string& path) {
  std::lock_guard<std::mutex> hold(InProgressLock());
  InProgress().erase(path);
}

void RemoveFileInProgress(const std::string& path) {
  const int saved = errno;
  std::lock_guard<std::mutex> hold(InProgressLock());
  if (InProgress().erase(path) != 0) Unlink(path);
  errno = saved;
}

void RemoveRecoveredFile(const std::string& path) { Unlink(path); }

void SetFileJournal(std::function<void(const std::string& path, bool taken)> note) {
  std::lock_guard<std::mutex> hold(JournalLock());
  Journal() = std::move(note);
}

void RemoveAllFilesInProgress() {
  std::lock_guard<std::mutex> hold(InProgressLock());
  for (const std::string& path : InProgress()) Unlink(path);
  InProgress().clear();
}

std::unique_ptr<TNewFileStream> CreatePartialFile(std::string& fileName) {
  for (int n = 0; n < kMaxAlternatives; ++n) {
    const std::string name = NumberedFileName(fileName, n);
    if (NameTaken(name) || NameTaken(PartialFileName(name))) continue;
    NoteInJournal(PartialFileName(name));
    auto stream = CreateFileInProgress(PartialFileName(name));
    if (stream) {
      fileName = name;
      return stream;
    }
    NoteTakenNot(PartialFileName(name));
    if (errno != EEXIST && errno != ELOOP) return nullptr;
  }
  errno = EEXIST;
  return nullptr;
}

std::unique_ptr<TNewFileStream> CreateWorkFile(const std::string& path) {
  NoteInJournal(path);
  auto stream = CreateFileInProgress(path);
  if (!stream) NoteTakenNot(path);
  return stream;
}

void NoteWorkFileInJournal(const std::string& path) { NoteInJournal(path); }

bool AdoptAsPartialFile(std::string& fileName, const std::string& workPath) {
  for (int n = 0; n < kMaxAlternatives; ++n) {
    const std::string name = NumberedFileName(fileName, n);
    const std::string partial = PartialFileName(name);
    if (NameTaken(name) || NameTaken(partial)) continue;
    std::lock_guard<std::mutex> hold(InProgressLock());
    NoteInJournal(partial);
    if (RenameNoReplace(workPath, partial)) {
      InProgress().erase(workPath);
      InProgress().insert(partial);
      NoteTakenNot(workPath);
      fileName = name;
      return true;
    }
    NoteTakenNot(partial);
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

bool PlaceRecoveredFile(std::string& fileName) { return PlaceRecoveredFile(fileName, PartialFileName(fileName)); }

bool PlaceRecoveredFile(std::string& fileName, const std::string& partial) {
  for (int n = 0; n < kMaxAlternatives; ++n) {
    // The name reserved at creation first, then the alternatives from the plain name on.
    const std::string name = n == 0 ? fileName : NumberedFileName(fileName, n - 1);
    if ((n > 0 && name == fileName) || NameTaken(name)) continue;
    std::lock_guard<std::mutex> hold(InProgressLock());
    NoteInJournal(name);
    if (RenameNoReplace(partial, name)) {
      PassTestKillPoint(TestKillPoint::Place);
      InProgress().erase(partial);
      fileName = name;
      return true;
    }
    NoteTakenNot(name);
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

bool AskRetryAfterSaveFailure(ScanContext& scan, const std::string& fileName) {
  const int error = errno;
  // The space the copies made ahead take is given back first, and the write tried again.
  if (scan.Copies && IsDiskFull(error) && scan.Copies->DropAll()) return true;
  switch (scan.Observer().OnSaveFailedBecause(fileName, error)) {
    case SaveFailureChoice::Retry:
      return true;
    case SaveFailureChoice::Abort:
      scan.StopGaveUpFile = true;
      scan.RunState = rsStopped;
      return false;
    case SaveFailureChoice::Ignore:
      return false;
  }
  return false;
}

std::unique_ptr<TNewFileStream> CreatePartialFileAsking(ScanContext& scan, std::string& fileName) {
  for (;;) {
    auto stream = CreatePartialFile(fileName);
    if (stream) return stream;
    if (!AskRetryAfterSaveFailure(scan, fileName)) return nullptr;
  }
}

namespace {

// One attempt; false with errno when the file could not be written whole.
bool WriteWhole(ByteView bytes, std::string& fileName) {
  auto file = CreatePartialFile(fileName);
  if (!file) return false;
  bool ok = bytes.size() == 0 ||
            file->Write(bytes.data(), static_cast<int64_t>(bytes.size())) == static_cast<int64_t>(bytes.size());
  file.reset();
  if (ok) ok = PlaceRecoveredFile(fileName);
  if (!ok) RemoveFileInProgress(PartialFileName(fileName));
  return ok;
}

}  // namespace

bool SaveRecoveredFile(ScanContext& scan, ByteView bytes, const std::string& fileName, std::string* writtenName) {
  for (;;) {
    std::string name = fileName;
    if (WriteWhole(bytes, name)) {
      if (writtenName) *writtenName = name;
      return true;
    }
    if (!AskRetryAfterSaveFailure(scan, name)) return false;
  }
}

bool SaveRecoveredFile(ScanContext& scan, const MemoryStream& stream, const std::string& fileName,
                       std::string* writtenName) {
  return SaveRecoveredFile(scan, ByteView(stream.Bytes().data(), stream.Bytes().size()), fileName, writtenName);
}

}  // namespace morvane
