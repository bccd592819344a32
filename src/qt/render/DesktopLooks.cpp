#include "qt/render/DesktopLooks.h"

#include <unordered_set>

#include "platform/CommonUtility.h"
#include "platform/UiElement.h"

namespace fm::qt {

namespace {

struct Registry {
  std::unordered_set<const UiElement*> grids;
  std::unordered_set<const UiElement*> dialogs;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void DesktopLooks::Install(CommonUtility& utility) {
  utility.SetGridLook([](UiElement& grid) { TheRegistry().grids.insert(&grid); });
  utility.SetDialogLook([](UiElement& form) { TheRegistry().dialogs.insert(&form); });
}

bool DesktopLooks::HasGridLook(const UiElement& element) {
  return TheRegistry().grids.count(&element) != 0;
}

bool DesktopLooks::HasDialogLook(const UiElement& element) {
  return TheRegistry().dialogs.count(&element) != 0;
}

void DesktopLooks::Forget(const UiElement& element) {
  TheRegistry().grids.erase(&element);
  TheRegistry().dialogs.erase(&element);
}

}  // namespace fm::qt
