// What the command line does differently on each system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace morvane::cli {

// The program's arguments as UTF-8 text (Windows hands them over in its own code page
// otherwise), and the console set up for UTF-8 text and redrawn progress lines.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// True when `path` names a disk or partition device rather than an image file.
bool IsDevicePath(const std::string& path);

// What to tell someone whose device could not be opened for lack of rights.
std::string DeviceAccessHint();
// What to tell someone who named a folder as the source: on Windows, for a drive letter
// ("E:", "E:\"), the name of the volume itself; empty when there is nothing to add.
std::string FolderSourceHint(const std::string& path);

// The SHA-256 of the bytes that `next` hands over (filling the buffer, returning how many
// it placed, 0 at the end, -1 on a failure) in lower-case hex; empty on a failure.
std::string Sha256Of(const std::function<int64_t(char*, int64_t)>& next);

// Whether standard input and standard error are interactive consoles.
bool InputIsTerminal();
bool ErrorIsTerminal();

// How devices are named on this system, for the help text.
extern const char* const kSourceHelp;

}  // namespace morvane::cli
