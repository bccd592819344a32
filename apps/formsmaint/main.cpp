// The forms-maintenance desktop: the host shell window with the forms-maintenance document.
// Everything lives in the desktop library (src/qt); `formsmaint --help` explains the options.

#include "qt/shell/DesktopApp.h"

int main(int argc, char** argv) { return fm::qt::RunDesktop(argc, argv); }
