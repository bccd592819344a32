#pragma once

#include <string>

namespace fm {

// What the platform needs of any control or form of the screen model: a name for
// diagnostics and the error mark the common utility sets and clears. The controls of the
// screen model derive from it; the renderer shows the mark.
class UiElement {
 public:
  virtual ~UiElement() = default;

  virtual std::string Name() const = 0;

  bool ErrorMark() const { return mErrorMark; }
  virtual void SetErrorMark(bool marked) { mErrorMark = marked; }

 private:
  bool mErrorMark = false;
};

}  // namespace fm
