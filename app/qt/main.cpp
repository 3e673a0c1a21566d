#include "app/qt/updater_app.h"

int main(int argc, char** argv) {
  CUpdaterApp app(argc, argv);
  app.InitInstance();
  return 0;
}
