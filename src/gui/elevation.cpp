#include "gui/elevation.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "storage/files.h"

namespace morvane {

ElevatedCommand ElevatedRestartCommand(const QString& programPath, const QStringList& programArguments,
                                       const QProcessEnvironment& environment) {
  ElevatedCommand c;
  c.program = QStringLiteral("pkexec");
  c.arguments << QStringLiteral("env");
  for (const char* name : kDisplayVariables) {
    QString key = QString::fromLatin1(name);
    if (environment.contains(key) && !environment.value(key).isEmpty()) {
      c.arguments << key + '=' + environment.value(key);
    } else if (key == QLatin1String("XAUTHORITY") && environment.contains(QStringLiteral("HOME"))) {
      QString fallback = QDir(environment.value(QStringLiteral("HOME"))).filePath(QStringLiteral(".Xauthority"));
      if (QFileInfo::exists(fallback)) c.arguments << key + '=' + fallback;
    }
  }
  c.arguments << programPath;
  c.arguments << programArguments.mid(0, 2);
  return c;
}

bool RunningAsRoot() { return RunsAsAdministrator(); }

bool CanElevate() { return !QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty(); }

QString ElevationQuestion(Language language) {
  switch (language) {
    case Language::SimplifiedChinese:
      return QStringLiteral("读取磁盘需要管理员权限。是否以管理员身份重新启动程序?");
    case Language::TraditionalChinese:
      return QStringLiteral("讀取磁碟需要系統管理員權限。是否以系統管理員身分重新啟動程式?");
    case Language::English:
      break;
  }
  return QStringLiteral("Reading a disk needs administrator rights. Restart the program as administrator?");
}

QString PermissionAdvice(Language language, bool runningAsRoot, const QString& systemReason) {
  QString reason = systemReason.isEmpty() ? QStringLiteral("-") : systemReason;
  switch (language) {
    case Language::SimplifiedChinese:
      if (runningAsRoot) return QStringLiteral("程序已以管理员身份运行,但系统仍拒绝读取该驱动器(%1)。驱动器可能被其他程序占用或已被锁定。").arg(reason);
      return QStringLiteral("直接读取驱动器需要管理员权限(系统提示:%1)。\n"
                            "请以管理员身份启动程序:pkexec morvane-gui,或在终端中运行 sudo -E morvane-gui。")
          .arg(reason);
    case Language::TraditionalChinese:
      if (runningAsRoot) return QStringLiteral("程式已以系統管理員身分執行,但系統仍拒絕讀取此磁碟(%1)。磁碟可能被其他程式占用或已被鎖定。").arg(reason);
      return QStringLiteral("直接讀取磁碟需要系統管理員權限(系統訊息:%1)。\n"
                            "請以系統管理員身分啟動程式:pkexec morvane-gui,或在終端機中執行 sudo -E morvane-gui。")
          .arg(reason);
    case Language::English:
      break;
  }
  if (runningAsRoot)
    return QStringLiteral("The program already runs as administrator, yet the system refused to read the drive (%1). "
                          "Another program may hold it, or it is locked.")
        .arg(reason);
  return QStringLiteral("Reading a drive directly needs administrator rights (the system said: %1).\n"
                        "Start the program as administrator: pkexec morvane-gui, or sudo -E morvane-gui in a terminal.")
      .arg(reason);
}

bool StartElevated(const ElevatedCommand& command) {
  return QProcess::startDetached(command.program, command.arguments, QDir::homePath());
}

}  // namespace morvane
