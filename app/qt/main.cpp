#include "app/qt/updater_app.h"
#include "model/localized.h"

int main(int argc, char** argv) {
  CUpdaterApp app(argc, argv);
  // After QApplication, which sets the process's locale from the environment itself.
  updater::UseSystemLanguage();
  app.InitInstance();
  return 0;
}
