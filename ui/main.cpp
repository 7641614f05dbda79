// ambrel: the desktop program. Start-up runs before the main window opens;
// its failures are shown in message boxes and end the program.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <cstdlib>
#include <cstring>

#include "session/program.h"
#include "device_panel.h"
#include "gui_prompt.h"
#include "main_window.h"
#include "startup_flow.h"

int main(int argc, char** argv) {
  using namespace ambrel;
  InstallCrashHandler();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ambrel"));
  QApplication::setDesktopFileName(QStringLiteral("ambrel"));

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
