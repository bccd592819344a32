#pragma once

class QApplication;

namespace fm::qt {

// The desktop's look: the Fusion style on every platform and a small, narrow dialog font,
// for which the screen's twips layout was made.
void ApplyDesktopLook(QApplication& app);

// The desktop program: parses the command line (shell::ShellCommandLine), resolves the site
// settings, starts the Qt application and the desktop session, opens the shell window with
// the document and runs until it is closed. Answers the process's exit code: 0, or 1 when
// the program could not start (the reason is on standard error and in a message box), or
// 2 for a command-line mistake.
int RunDesktop(int argc, char** argv);

}  // namespace fm::qt
