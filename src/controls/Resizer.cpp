#include "controls/Resizer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "controls/Form.h"
#include "platform/PlatformError.h"

namespace fm {

namespace {

int Round(double value) { return static_cast<int>(std::lround(value)); }

// A share of the container's growth; without anchors, the edge's place in the container.
double Share(const double* anchor, int edge, int container) {
  if (anchor != nullptr) return *anchor;
  return container > 0 ? static_cast<double>(edge) / container : 0.0;
}

// Controls that draw nothing take no room.
bool TakesRoom(const Control& control) {
  return control.Kind() != ControlKind::Resizer && control.Kind() != ControlKind::DataControl &&
         control.IsShown();
}

bool ValidShare(double share) { return share >= 0.0 && share <= 1.0; }

}  // namespace

Resizer::Resizer(const Site& site) : Control(site) {
  // An invisible helper on the form, like the data control.
  SetVisible(false);
}

Resizer::~Resizer() = default;

void Resizer::CheckOwn(const Control& control, const char* what) const {
  if (&control.Owner() != &Owner()) {
    throw PlatformError(PlatformError::kGeneric, fmt::format("{}: {} is not a control of {}", what,
                                                             control.Name(), Owner().Name()));
  }
}

void Resizer::SetAnchors(const Control& control, Anchors anchors) {
  CheckOwn(control, "Anchors");
  if (!ValidShare(anchors.left) || !ValidShare(anchors.top) || !ValidShare(anchors.right) ||
      !ValidShare(anchors.bottom) || anchors.right < anchors.left || anchors.bottom < anchors.top) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid anchors for {}: each share lies between 0 and 1, "
                                    "and right and bottom are not below left and top",
                                    control.Name()));
  }
  mEntries[&control].anchors = anchors;
}

const Anchors* Resizer::AnchorsOf(const Control& control) const {
  const auto it = mEntries.find(&control);
  return it == mEntries.end() || !it->second.anchors ? nullptr : &*it->second.anchors;
}

void Resizer::SetMinimumSize(const Control& control, int width, int height) {
  CheckOwn(control, "Minimum size");
  if (width < 0 || height < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid minimum size {} x {} for {}: a size cannot be "
                                    "negative",
                                    width, height, control.Name()));
  }
  mEntries[&control].minimum = {width, height};
}

TwipSize Resizer::MinimumSizeOf(const Control& control) const {
  const auto it = mEntries.find(&control);
  return it == mEntries.end() ? TwipSize{} : it->second.minimum;
}

bool Resizer::StandsAsPlaced(const Control& control) const {
  const auto it = mEntries.find(&control);
  if (it == mEntries.end() || !it->second.hasBase) return false;
  const Rect now{control.Left(), control.Top(), control.Width(), control.Height()};
  return now == it->second.placed && control.FontScale() == it->second.placedFont;
}

Resizer::EdgeLines Resizer::EdgesAlong(const Control& control, Axis axis) const {
  const bool horizontal = axis == Axis::Horizontal;
  const Control* parent = control.Parent();
  Line container{0.0, 1.0};
  int containerNow = horizontal ? Owner().ClientWidth() : Owner().ClientHeight();
  if (parent != nullptr) {
    const EdgeLines outer = EdgesAlong(*parent, axis);
    container = {outer.high.a - outer.low.a, outer.high.b - outer.low.b};
    containerNow = horizontal ? parent->Width() : parent->Height();
  }

  int low = horizontal ? control.Left() : control.Top();
  int size = horizontal ? control.Width() : control.Height();
  int containerBase = containerNow;
  const auto it = mEntries.find(&control);
  const Entry* entry = it == mEntries.end() ? nullptr : &it->second;
  if (entry != nullptr && StandsAsPlaced(control)) {
    low = horizontal ? entry->base.left : entry->base.top;
    size = horizontal ? entry->base.width : entry->base.height;
    containerBase = horizontal ? entry->baseContainer.width : entry->baseContainer.height;
  }
  const Anchors* anchors = entry != nullptr && entry->anchors ? &*entry->anchors : nullptr;
  const double* lowAnchor = anchors == nullptr ? nullptr
                            : horizontal       ? &anchors->left
                                               : &anchors->top;
  const double* highAnchor = anchors == nullptr ? nullptr
                             : horizontal       ? &anchors->right
                                                : &anchors->bottom;

  // edge + share * (container(S) - containerBase)
  const auto line = [&](int edge, double share) {
    return Line{edge - share * containerBase + share * container.a, share * container.b};
  };
  return {line(low, Share(lowAnchor, low, containerBase)),
          line(low + size, Share(highAnchor, low + size, containerBase))};
}

TwipSize Resizer::MinimumClientSize() const {
  // Each rule is a line g(S) = a + b * S that must not be negative; one that grows with S
  // gives the least S that keeps it. A rule that no size can keep (a design that overlaps
  // already) or that only a smaller size keeps is not the resizer's to mend.
  double least[2] = {0.0, 0.0};
  const auto keep = [&](Axis axis, Line rule) {
    if (rule.b <= 1e-9) return;
    double& bound = least[axis == Axis::Horizontal ? 0 : 1];
    bound = std::max(bound, -rule.a / rule.b);
  };
  const auto minus = [](Line x, Line y) { return Line{x.a - y.a, x.b - y.b}; };

  const Form& form = Owner();
  std::vector<const Control*> containers{nullptr};
  for (const Control* control : form.Controls()) {
    if (control->IsContainer() && TakesRoom(*control)) containers.push_back(control);
  }
  for (const Control* container : containers) {
    std::vector<const Control*> children;
    for (const Control* child : form.ChildrenOf(container)) {
      if (TakesRoom(*child)) children.push_back(child);
    }
    for (const Control* child : children) {
      const TwipSize minimum = MinimumSizeOf(*child);
      for (const Axis axis : {Axis::Horizontal, Axis::Vertical}) {
        const EdgeLines edges = EdgesAlong(*child, axis);
        const int leastSize = axis == Axis::Horizontal ? minimum.width : minimum.height;
        keep(axis, minus(minus(edges.high, edges.low), Line{static_cast<double>(leastSize), 0}));
        keep(axis, edges.low);
        Line room{0.0, 1.0};
        if (container != nullptr) {
          const EdgeLines outer = EdgesAlong(*container, axis);
          room = minus(outer.high, outer.low);
        }
        keep(axis, minus(room, edges.high));
      }
    }
    // Controls side by side stay apart; controls that overlap already are left alone.
    for (std::size_t i = 0; i < children.size(); ++i) {
      for (std::size_t j = i + 1; j < children.size(); ++j) {
        const Control& a = *children[i];
        const Control& b = *children[j];
        const auto apart = [](int lowA, int sizeA, int lowB, int sizeB) {
          return lowA + sizeA <= lowB || lowB + sizeB <= lowA;
        };
        const bool apartX = apart(a.Left(), a.Width(), b.Left(), b.Width());
        const bool apartY = apart(a.Top(), a.Height(), b.Top(), b.Height());
        const auto gap = [&](Axis axis) {
          const EdgeLines ea = EdgesAlong(a, axis);
          const EdgeLines eb = EdgesAlong(b, axis);
          const int lowA = axis == Axis::Horizontal ? a.Left() : a.Top();
          const int lowB = axis == Axis::Horizontal ? b.Left() : b.Top();
          return lowA <= lowB ? minus(eb.low, ea.high) : minus(ea.low, eb.high);
        };
        if (apartX && !apartY) keep(Axis::Horizontal, gap(Axis::Horizontal));
        if (apartY && !apartX) keep(Axis::Vertical, gap(Axis::Vertical));
        if (apartX && apartY) {
          // Diagonal neighbours meet only when both gaps close; keeping both is on the
          // safe side, and unneeded when either gap never closes.
          const Line gapX = gap(Axis::Horizontal);
          const Line gapY = gap(Axis::Vertical);
          if (gapX.b > 1e-9 && gapY.b > 1e-9) {
            keep(Axis::Horizontal, gapX);
            keep(Axis::Vertical, gapY);
          }
        }
      }
    }
  }
  const auto whole = [](double value) { return static_cast<int>(std::ceil(value - 1e-6)); };
  return {std::max(0, whole(least[0])), std::max(0, whole(least[1]))};
}

bool Resizer::Resize(int newWidth, int newHeight) {
  if (newWidth <= 0 || newHeight <= 0) return false;
  Form& form = Owner();
  const int oldWidth = form.ClientWidth();
  const int oldHeight = form.ClientHeight();
  if (oldWidth > 0 && oldHeight > 0) {
    const TwipSize minimum = MinimumClientSize();
    newWidth = std::max(newWidth, minimum.width);
    newHeight = std::max(newHeight, minimum.height);
  }
  if (oldWidth > 0 && oldHeight > 0 && (oldWidth != newWidth || oldHeight != newHeight)) {
    // A copy: a handler could add controls, which are not part of this resize.
    const auto controls = form.Controls();
    // Containers are laid out before what they hold: their sizes before this resize are
    // what their controls' layouts were seen in.
    std::unordered_map<const Control*, TwipSize> before;
    for (const Control* control : controls) {
      if (control->IsContainer()) before[control] = {control->Width(), control->Height()};
    }
    for (Control* control : controls) {
      if (control == this) continue;
      const Control* parent = control->Parent();
      const TwipSize containerBefore =
          parent != nullptr ? before[parent] : TwipSize{oldWidth, oldHeight};
      const bool asPlaced = StandsAsPlaced(*control);
      Entry& entry = mEntries[control];
      if (!asPlaced) {
        entry.hasBase = true;
        entry.base = {control->Left(), control->Top(), control->Width(), control->Height()};
        entry.baseContainer = containerBefore;
        entry.baseForm = {oldWidth, oldHeight};
        entry.baseFont = control->FontScale();
      }

      Settings settings;
      BeforeResize.Emit(*control, settings);

      const TwipSize container = parent != nullptr ? TwipSize{parent->Width(), parent->Height()}
                                                   : TwipSize{newWidth, newHeight};
      const Anchors* anchors = entry.anchors ? &*entry.anchors : nullptr;
      const Rect& base = entry.base;
      const auto edge = [](int at, double share, int containerNow, int containerBase) {
        return Round(at + share * (containerNow - containerBase));
      };
      const int baseRight = base.left + base.width;
      const int baseBottom = base.top + base.height;
      const int cw = entry.baseContainer.width;
      const int ch = entry.baseContainer.height;
      const int left = edge(base.left, Share(anchors ? &anchors->left : nullptr, base.left, cw),
                            container.width, cw);
      const int right = edge(baseRight, Share(anchors ? &anchors->right : nullptr, baseRight, cw),
                             container.width, cw);
      const int top = edge(base.top, Share(anchors ? &anchors->top : nullptr, base.top, ch),
                           container.height, ch);
      const int bottom =
          edge(baseBottom, Share(anchors ? &anchors->bottom : nullptr, baseBottom, ch),
               container.height, ch);

      control->Move(settings.moveHorizontally ? left : control->Left(),
                    settings.moveVertically ? top : control->Top(),
                    settings.resizeWidth ? std::max(0, right - left) : control->Width(),
                    settings.resizeHeight ? std::max(0, bottom - top) : control->Height());
      if (settings.resizeFont && entry.baseForm.width > 0 && entry.baseForm.height > 0) {
        const double ratio = std::min(static_cast<double>(newWidth) / entry.baseForm.width,
                                      static_cast<double>(newHeight) / entry.baseForm.height);
        control->SetFontScale(entry.baseFont * ratio);
      }
      entry.placed = {control->Left(), control->Top(), control->Width(), control->Height()};
      entry.placedFont = control->FontScale();
    }
  }
  form.SetClientSize(newWidth, newHeight);
  ResizeComplete.Emit();
  return true;
}

}  // namespace fm
