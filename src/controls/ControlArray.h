#pragma once

#include <map>
#include <string>
#include <utility>

#include "controls/Form.h"

namespace fm {

namespace detail {
// Kept out of line so that the template stays free of the formatting library.
[[noreturn]] void ThrowBadArrayIndex(const std::string& array, int index, bool missing);
}  // namespace detail

// A control array of the screen (`txtBox(0)` ... `txtBox(7)`): controls of one type sharing
// a name, reached by index. Indices need not be contiguous. The form owns the controls;
// the array only finds them.
//
// Errors: an index without an element, or creating one twice, throws PlatformError naming
// the array and the index.
template <class T>
class ControlArray {
 public:
  explicit ControlArray(std::string name) : mName(std::move(name)) {}

  // Creates element `index` on `form` (inside `parent`, a frame, when given).
  T& Create(Form& form, int index, Control* parent = nullptr) {
    if (index < 0) detail::ThrowBadArrayIndex(mName, index, false);
    T& control = form.template Add<T>(mName, index, parent);
    mElements.emplace(index, &control);
    return control;
  }

  T& operator()(int index) const {
    const auto it = mElements.find(index);
    if (it == mElements.end()) detail::ThrowBadArrayIndex(mName, index, true);
    return *it->second;
  }
  T& operator[](int index) const { return (*this)(index); }
  bool Contains(int index) const { return mElements.count(index) != 0; }

  const std::string& Name() const { return mName; }
  int Count() const { return static_cast<int>(mElements.size()); }
  int LBound() const { return mElements.empty() ? 0 : mElements.begin()->first; }
  int UBound() const { return mElements.empty() ? -1 : mElements.rbegin()->first; }

  // Iterates (index, control*) in index order.
  auto begin() const { return mElements.begin(); }
  auto end() const { return mElements.end(); }

 private:
  std::string mName;
  std::map<int, T*> mElements;
};

}  // namespace fm
