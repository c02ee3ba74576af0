#include "app/app.h"
#include "ui/dialogs.h"
#include "ui/window1.h"

int main(int argc, char** argv) {
  vadoset::App app(argc, argv);
  vadoset::QtDialogs dialogs;
  std::unique_ptr<vadoset::Window1> window = app.openMainWindow(dialogs);
  return app.exec();
}
