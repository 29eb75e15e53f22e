// Naming and writing of recovered files.
//
// A recovered file is called "TEST_" + the 8-letter name of its start position + the
// format's extension, in the output folder. Files are always written under a temporary name
// beside the final one (the final name + ".part") and renamed into place once they are
// complete, so a file under a final name is never half-written; a temporary file that
// could not be completed is deleted.
//
// The output folder may hold files of the user's, of an earlier scan, or names planted by
// someone else. A scan never replaces, follows or changes anything it did not create: the
// temporary file is created new (a name that is taken, even by a dangling symbolic link, is
// passed over), and when the final name is taken the file gets the next free one:
// TEST_AAAAADCY.JPG, then TEST_AAAAADCY_1.JPG, TEST_AAAAADCY_2.JPG, ...
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "storage/bytes.h"
#include "storage/streams.h"

namespace morvane {

class ScanContext;

// Eight letters 'A'..'Z' naming the 512-byte unit of byteOffset (512-byte units whatever
// the sector size), most significant letter first; wraps after 26^8 units.
std::string SectorName(int64_t byteOffset);

// folder (ending in '/') + "TEST_" + SectorName(byteOffset) + extension.
std::string RecoveredFileName(const std::string& folder, int64_t byteOffset, const std::string& extension);

// The name a file is written under until it is complete.
std::string PartialFileName(const std::string& fileName);

// Everything from the first '.' of the file name's last path component (".JPG",
// ".ENC.DOCX"); empty when there is none.
std::string FileExtension(const std::string& fileName);

// The n-th alternative of a file name: n = 0 is the name itself, n > 0 puts "_n" before the
// extension ("/o/TEST_A.ENC.DOCX", 2 -> "/o/TEST_A_2.ENC.DOCX"). A "_n" already there is
// replaced, so numbering never piles up.
std::string NumberedFileName(const std::string& fileName, int n);

// --- The output folder ------------------------------------------------------------------
//
// A scan opens its output folder once. While the handle is held, every file the functions
// below make, look up, rename or remove directly in that folder (named as folder + name) is
// reached through the open folder (openat, renameat2, unlinkat, fstatat), so a folder that
// is renamed or replaced by a symbolic link during the scan does not redirect the output.
// Handles of the same folder share one descriptor.
class OutputFolderHandle {
 public:
  // folder as the file names begin (ending in '/'); nothing is held when it cannot be opened.
  explicit OutputFolderHandle(const std::string& folder);
  ~OutputFolderHandle();
  OutputFolderHandle(const OutputFolderHandle&) = delete;
  OutputFolderHandle& operator=(const OutputFolderHandle&) = delete;
  bool Held() const { return held_; }

 private:
  std::string folder_;
  bool held_ = false;
};

// --- Files being written ----------------------------------------------------------------
//
// Every temporary or work file the process creates is listed from its creation until it
// is renamed into place or removed, so that an abrupt end (a second Ctrl-C) can delete
// exactly those files and nothing else. Safe to call from any thread.

// Creates `path` new (never an existing name, never through a symbolic link) and lists it.
// nullptr when that fails; errno tells why.
std::unique_ptr<TNewFileStream> CreateFileInProgress(const std::string& path);
// Lists or forgets a file that was opened otherwise (an image backup's target).
void ListFileInProgress(const std::string& path);
void ForgetFileInProgress(const std::string& path);
// Deletes a listed file and forgets it.
void RemoveFileInProgress(const std::string& path);
// Deletes a finished file of the output folder (through the open folder, as it was made).
void RemoveRecoveredFile(const std::string& path);
// Deletes every listed file (the last act of a process that is being ended).
void RemoveAllFilesInProgress();
// Is told the full name of every temporary file once it is created and of every file
// before it is placed (taken), and again when a placing failed (not taken), so that a
// scan can find what it made after a point whenever it is cut off; nullptr stops it.
void SetFileJournal(std::function<void(const std::string& path, bool taken)> note);

// Creates a work file new (the journal told of it first) and lists it; nullptr when that fails.
std::unique_ptr<TNewFileStream> CreateWorkFile(const std::string& path);
// Tells the journal of a work file again (see CopiesAhead::NoteAgainInJournal).
void NoteWorkFileInJournal(const std::string& path);
// Makes the listed work file at workPath the temporary file of `fileName`, renamed to the
// first free alternative as CreatePartialFile picks it; `fileName` becomes the chosen name.
// False (with errno) when it could not be renamed: the work file is then left as it is.
bool AdoptAsPartialFile(std::string& fileName, const std::string& workPath);

// Picks the first free alternative of `fileName` (see NumberedFileName) whose final and
// temporary names are both free, creates the temporary file and lists it; `fileName`
// becomes the chosen name. nullptr (with errno) when no file could be created.
std::unique_ptr<TNewFileStream> CreatePartialFile(std::string& fileName);
// Renames the complete temporary file of `fileName` to the first free alternative of
// `fileName`, never replacing anything; `fileName` becomes the name it got. False with
// errno when it could not be renamed (the temporary file is then left as it is).
bool PlaceRecoveredFile(std::string& fileName);
// The same for the temporary file `partial`, made under another name.
bool PlaceRecoveredFile(std::string& fileName, const std::string& partial);

// Asks the observer about a file that could not be written, with the system's reason (the
// errno of the failure, read on entry): true for Retry; Abort also sets RunState to stopped.
bool AskRetryAfterSaveFailure(ScanContext& scan, const std::string& fileName);

// The temporary file of `fileName`, created as CreatePartialFile does; a failure is put to
// the observer like any failed write (Retry tries again). nullptr when given up.
std::unique_ptr<TNewFileStream> CreatePartialFileAsking(ScanContext& scan, std::string& fileName);

// Writes bytes as fileName, or under the next free alternative when that name is taken
// (`writtenName`, when given, receives the name used). When that fails the observer is asked:
// Retry writes again, Abort sets RunState to stopped, Ignore gives up. Returns whether the
// file was written. Counting and reporting are left to the caller.
bool SaveRecoveredFile(ScanContext& scan, ByteView bytes, const std::string& fileName,
                       std::string* writtenName = nullptr);
// The whole stream, whatever its position (which is left as it was).
bool SaveRecoveredFile(ScanContext& scan, const MemoryStream& stream, const std::string& fileName,
                       std::string* writtenName = nullptr);

}  // namespace morvane
