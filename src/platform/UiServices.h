#pragma once

#include <string>

namespace fm {

class UiElement;

enum class MsgBoxButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgBoxIcon { None, Critical, Question, Exclamation, Information };
enum class MsgBoxResult { Ok, Cancel, Yes, No };
enum class MousePointer { Default, Hourglass };

// What the screen asks of the windowing system: message boxes, the beep, the mouse
// pointer and modal display. The desktop implements it with Qt; tests script it.
class UiServices {
 public:
  virtual ~UiServices() = default;
  virtual MsgBoxResult MessageBox(const std::string& text, MsgBoxButtons buttons, MsgBoxIcon icon,
                                  const std::string& title) = 0;
  virtual void Beep() = 0;
  virtual void SetMousePointer(MousePointer pointer) = 0;
  virtual MousePointer GetMousePointer() const = 0;
  // Shows a form modally and returns when it is hidden or unloaded.
  virtual void ShowModal(UiElement& form) = 0;
  // Lets the user interface catch up (repaint) before a modal show.
  virtual void DoEvents() {}
};

}  // namespace fm
