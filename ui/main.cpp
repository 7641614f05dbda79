// ambrel: the desktop program. Start-up runs before the main window opens;
// its failures are shown in message boxes and end the program.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session/program.h"
#include "device_panel.h"
#include "gui_prompt.h"
#include "main_window.h"
#include "startup_flow.h"
#include "translations.h"

namespace {

// --help and --version answer without a display and without the start-up
// checks (a package check runs them from the PATH).
bool AnswerCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "用法: ambrel [磁盘镜像文件]\n"
          "Ambrel 数据恢复的桌面程序：选择恢复模式和设备（或镜像文件），扫描后浏览并恢复找到的文件。\n"
          "给出的镜像文件会加入设备列表。设备和镜像只读不写。\n"
          "读取整个磁盘需要 root 权限：pkexec ambrel，或把用户加入 disk 组。\n"
          "命令行程序：ambrel-cli --help\n");
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("ambrel %s (build %u)\n", ambrel::kVersionText, ambrel::kSvnBuild);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ambrel;
  if (AnswerCommandLine(argc, argv)) return 0;
  InstallCrashHandler();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ambrel"));
  QApplication::setDesktopFileName(QStringLiteral("ambrel"));
  ui::InstallQtTranslations();

  static ui::GuiPrompt prompt;
  StartupOptions options;
  options.splashRequested = false;
  const char* second = std::getenv("AMBREL_ALLOW_SECOND_INSTANCE");
  options.singleInstance = !(second && std::strcmp(second, "1") == 0);
  if (const int status = ui::RunGuiStartup(options, prompt)) return status;

  int result = 0;
  {
    ui::MainWindow window(prompt);
    prompt.setWindow(&window);
    window.show();
    // A disk image named on the command line (as a file manager's "open
    // with" passes it) is added to the device list.
    const QStringList args = QApplication::arguments();
    if (args.size() > 1 && QFileInfo(args[1]).isFile()) {
      const QString image = args[1];
      QTimer::singleShot(0, &window, [&window, image] {
        if (window.currentPanel() != window.devicePanel()) window.SelectMode(6);
        window.devicePanel()->AddImage(image);
      });
    }
    result = QApplication::exec();
    prompt.setWindow(nullptr);
  }
  ShutdownApp();
  return result;
}
