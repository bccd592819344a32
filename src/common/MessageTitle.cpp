#include "common/MessageTitle.h"

namespace fm {

namespace {

// Module-wide, like the rest of the component's shared state: one document per process
// shows them, and the dialogs read them without a reference to the document.
std::string& TitleText() {
  static std::string title;
  return title;
}

std::string& TagText() {
  static std::string tag;
  return tag;
}

}  // namespace

const std::string& MessageTitle() { return TitleText(); }

const std::string& HostTag() { return TagText(); }

void SetMessageTitle(std::string title) { TitleText() = std::move(title); }

void SetHostTag(std::string tag) { TagText() = std::move(tag); }

}  // namespace fm
