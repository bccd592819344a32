#pragma once

namespace fm {
class CommonUtility;
class UiElement;
}  // namespace fm

namespace fm::qt {

// The looks the common utility's DialogSetUp and GridNormalAppearance give: a grid with the
// normal appearance has alternating row colours and a light grid; a dialog set up by the
// utility opens centred over its owner at its design size and cannot be resized. The
// utility only records which element asked for which look; the views read it when they
// draw. User-interface thread only.
class DesktopLooks {
 public:
  // Installs the hooks on `utility` (replacing the utility drops them: install again).
  static void Install(CommonUtility& utility);

  static bool HasGridLook(const UiElement& element);
  static bool HasDialogLook(const UiElement& element);
  // The element is going away: an element created later at the same address starts plain.
  static void Forget(const UiElement& element);
};

}  // namespace fm::qt
