#pragma once

#include <string>

namespace fm {

// The host shell's frame as the document sees it: its status bar and toolbar. The shell
// implements it; tests record the calls.
class HostFrame {
 public:
  virtual ~HostFrame() = default;
  virtual void SetStatusText(const std::string& text) = 0;
  // Switches one of the host's toolbar items; `tag` is the host tag of the caller (or the
  // empty text).
  virtual void SetToolbarItem(int item, bool enabled, const std::string& tag) = 0;
  // The second status operation: the shell shows that the document is connected and idle.
  virtual void SetSecondStatus(bool on) = 0;
};

}  // namespace fm
