#include "gui/elevation.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

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

bool RunningAsRoot() { return ::geteuid() == 0; }

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

bool StartElevated(const ElevatedCommand& command) {
  return QProcess::startDetached(command.program, command.arguments, QDir::homePath());
}

}  // namespace morvane
