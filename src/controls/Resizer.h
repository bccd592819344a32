#pragma once

#include <optional>
#include <unordered_map>

#include "controls/Control.h"
#include "controls/Signal.h"

namespace fm {

// Where a control's edges go when its container (the form's client area, or the frame that
// holds the control) changes size: each edge moves by a share of the container's growth.
// 0 keeps the edge's distance from the container's left (top) side, 1 keeps its distance
// from the right (bottom) side, 0.75 moves it by three quarters of the growth.
struct Anchors {
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;

  // Keeps its place and size.
  static constexpr Anchors Pinned() { return {0.0, 0.0, 0.0, 0.0}; }
  // Takes all the growth in both directions.
  static constexpr Anchors Stretch() { return {0.0, 0.0, 1.0, 1.0}; }
  friend bool operator==(const Anchors&, const Anchors&) = default;
};

// The resizer: lays a form's controls out anew when the form changes size.
//
// Policy. A control with anchors (SetAnchors) follows them. A control without keeps its
// place in proportion, as if each edge's share were its position in the container. Every
// position is worked out from the layout the resizer last saw the control in and the
// container's size then, never from earlier rounded results, so resizing back and forth
// comes back to the same layout; a control the screen's code moved or resized since the
// last resize starts from where the code put it. Frames are laid out before what they
// hold. Grid columns are left alone (the screen sets the widths it cares about in
// ResizeComplete).
//
// Before each control is laid out, BeforeResize is raised with the control and its
// settings, all on; a handler switches off what must not change for that control. While
// resizeFont is on, the control's font scale follows the form's size (by the smaller of the
// width and height ratios).
//
// Minimum size. MinimumClientSize is the least client size at which, going by the anchors,
// every control shown keeps its minimum size (SetMinimumSize; none by default), stays inside
// its container, and no two controls shown side by side in one container overlap. Resize
// lays out at no less than that minimum, and the form's client size becomes the size laid
// out; a renderer keeps its window at least that large.
//
// After the last control, the form takes the new size and ResizeComplete is raised. A size
// of zero or less (a minimised window) changes nothing and raises nothing: scaling to
// nothing would lose the layout. A form without a size yet only takes the new size.
//
// Errors: anchors or a minimum for a control of another form, shares outside 0 to 1, a
// right (bottom) share below the left (top) one, or a negative minimum throw PlatformError.
class Resizer final : public Control {
 public:
  struct Settings {
    bool moveHorizontally = true;  // Left follows the layout
    bool moveVertically = true;    // Top follows the layout
    bool resizeWidth = true;       // Width follows the layout
    bool resizeHeight = true;      // Height follows the layout
    bool resizeFont = true;        // the font scale follows the form's size
  };

  explicit Resizer(const Site& site);
  ~Resizer() override;

  ControlKind Kind() const override { return ControlKind::Resizer; }

  void SetAnchors(const Control& control, Anchors anchors);
  // nullptr when the control keeps its proportion.
  const Anchors* AnchorsOf(const Control& control) const;
  void SetMinimumSize(const Control& control, int width, int height);
  TwipSize MinimumSizeOf(const Control& control) const;

  TwipSize MinimumClientSize() const;

  // Answers false for a size of zero or less.
  bool Resize(int newWidth, int newHeight);

  Signal<Control&, Settings&> BeforeResize;
  Signal<> ResizeComplete;

 private:
  struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
  };
  // What the resizer knows of one control.
  struct Entry {
    std::optional<Anchors> anchors;
    TwipSize minimum;
    // The layout the control was last seen in, its container's size and the form's size
    // then, and what the resizer last gave it.
    bool hasBase = false;
    Rect base;
    TwipSize baseContainer;
    TwipSize baseForm;
    double baseFont = 1.0;
    Rect placed;
    double placedFont = 1.0;
  };
  enum class Axis { Horizontal, Vertical };
  // The edges of a control along one axis as lines a + b * S of the form's client size S.
  struct Line {
    double a = 0.0;
    double b = 0.0;
  };
  struct EdgeLines {
    Line low;
    Line high;
  };

  void CheckOwn(const Control& control, const char* what) const;
  // Whether the control still stands where the resizer last put it.
  bool StandsAsPlaced(const Control& control) const;
  EdgeLines EdgesAlong(const Control& control, Axis axis) const;

  std::unordered_map<const Control*, Entry> mEntries;
};

}  // namespace fm
