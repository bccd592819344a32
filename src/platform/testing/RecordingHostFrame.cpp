#include "platform/testing/RecordingHostFrame.h"

namespace fm::testing {

const std::string& RecordingHostFrame::LastStatus() const {
  static const std::string kNone;
  return statusTexts.empty() ? kNone : statusTexts.back();
}

void RecordingHostFrame::Clear() {
  statusTexts.clear();
  toolbarCalls.clear();
  secondStatusCalls.clear();
}

}  // namespace fm::testing
