#pragma once

#include <string>
#include <vector>

#include "platform/HostFrame.h"

namespace fm::testing {

// Records every call of the document into the host frame, in order.
class RecordingHostFrame final : public HostFrame {
 public:
  struct ToolbarCall {
    int item;
    bool enabled;
    std::string tag;
    friend bool operator==(const ToolbarCall&, const ToolbarCall&) = default;
  };

  void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
  void SetToolbarItem(int item, bool enabled, const std::string& tag) override {
    toolbarCalls.push_back({item, enabled, tag});
  }
  void SetSecondStatus(bool on) override { secondStatusCalls.push_back(on); }

  const std::string& LastStatus() const;  // the empty text when none was set
  void Clear();

  std::vector<std::string> statusTexts;
  std::vector<ToolbarCall> toolbarCalls;
  std::vector<bool> secondStatusCalls;
};

}  // namespace fm::testing
