// The entry routine: the application object, the one main window, the event
// loop. The program takes no arguments and always returns 0.
#include <QByteArray>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "app/Application.h"
#include "app/MainForm.h"

namespace {

// The window's layout is in pixels: no scaling to the screen's text size,
// whatever the environment asks of the toolkit.
void FixPixelLayout() {
  qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  qputenv("QT_SCALE_FACTOR", "1");
  for (const char* name : {"QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_FONT_DPI",
                           "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_USE_PHYSICAL_DPI"}) {
    qunsetenv(name);
  }
}

// A toolkit that cannot start (no display, say) ends the program quietly
// with the exit code it always has.
void OnQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  std::fprintf(stderr, "%s\n", qPrintable(message));
  if (type == QtFatalMsg) std::_Exit(0);
}

}  // namespace

int main(int, char** argv) {
  // A file-size limit shows up as a part that cannot be written, in its box,
  // instead of ending the program.
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  FixPixelLayout();
  qInstallMessageHandler(OnQtMessage);
  try {
    // The toolkit gets the program's name and nothing else: no option on
    // the command line changes the window.
    static char fallbackName[] = "corvella";
    int toolkitArgc = 1;
    char* toolkitArgv[] = {argv[0] ? argv[0] : fallbackName, nullptr};
    corvella::app::Application application(toolkitArgc, toolkitArgv);
    try {
      corvella::app::TMainForm window;
      window.show();
      application.exec();
    } catch (const std::exception& error) {
      corvella::app::ShowError(error);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Corvella v1.07: %s\n", error.what());
  }
  return 0;
}
