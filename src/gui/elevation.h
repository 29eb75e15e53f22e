// Restarting the program with administrator rights.
//
// Raw disks and partitions can only be read by root. When opening one is refused for lack
// of permission, the main window offers to start the program again through pkexec, which
// asks for the password in its own dialog. The display environment goes along, since
// pkexec starts the program with a clean one. The program never restarts on its own.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "app/language.h"

namespace morvane {

// Variables the restarted program needs to reach the same display.
inline constexpr const char* kDisplayVariables[] = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
                                                     "LANG", "LC_ALL", "LC_MESSAGES"};

struct ElevatedCommand {
  QString program;  // "pkexec"
  QStringList arguments;
};

// pkexec env NAME=VALUE... PROGRAM ARGS: the first two of `programArguments` are passed on
// unchanged. Only variables that are set go along; XAUTHORITY falls back to the user's
// ~/.Xauthority when it is not set but that file exists.
ElevatedCommand ElevatedRestartCommand(const QString& programPath, const QStringList& programArguments,
                                       const QProcessEnvironment& environment);

// True when the program already runs as root (nothing to gain from a restart).
bool RunningAsRoot();
// True when pkexec can be found on PATH.
bool CanElevate();

// The question put to the user, in the language of `language`.
QString ElevationQuestion(Language language);

// What to tell the user when a drive was refused for lack of permission and no restart
// through pkexec took place: that reading a drive directly needs administrator rights and
// how to get them (pkexec, sudo), with the system's own reason. When the program already
// runs as root the system refused for another reason, and it says that instead.
QString PermissionAdvice(Language language, bool runningAsRoot, const QString& systemReason);

// Starts `command` detached; true when it started.
bool StartElevated(const ElevatedCommand& command);

}  // namespace morvane
