#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace fm {

// An event of the screen model: any number of handlers, called synchronously in the order
// they were connected when the event is raised. The screen connects its handlers
// (`txtBox_Change`...), the renderer may connect its own observers next to them.
//
// Raising is re-entrant: a handler may raise the same event again, connect new handlers
// (they are first called on the next raise) or disconnect any handler (a disconnected
// handler is not called again, not even later in the raise under way). A handler's
// exception propagates to whoever raised the event; the handlers after it are not called.
//
// Arguments are passed as declared, so `Signal<int&>` lets handlers change the caller's
// value (the character code of a key press).
template <class... Args>
class Signal {
 public:
  using Handler = std::function<void(Args...)>;
  using Connection = std::uint64_t;

  Signal() = default;
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  // Answers the id that Disconnect takes. An empty handler is refused (answers 0).
  Connection Connect(Handler handler) {
    if (!handler) return 0;
    auto slot = std::make_shared<Slot>(Slot{++mLastId, std::move(handler), true});
    mSlots.push_back(slot);
    return slot->id;
  }

  // Unknown or already disconnected ids are ignored.
  void Disconnect(Connection connection) {
    auto it = std::find_if(mSlots.begin(), mSlots.end(),
                           [&](const auto& slot) { return slot->id == connection; });
    if (it == mSlots.end()) return;
    (*it)->active = false;
    mSlots.erase(it);
  }

  void DisconnectAll() {
    for (auto& slot : mSlots) slot->active = false;
    mSlots.clear();
  }

  bool Empty() const { return mSlots.empty(); }
  std::size_t HandlerCount() const { return mSlots.size(); }

  void Emit(Args... args) const {
    if (mSlots.empty()) return;
    // A snapshot, so that handlers may connect or disconnect while we iterate.
    const auto snapshot = mSlots;
    for (const auto& slot : snapshot) {
      if (slot->active) slot->handler(args...);
    }
  }
  void operator()(Args... args) const { Emit(args...); }

 private:
  struct Slot {
    Connection id;
    Handler handler;
    bool active;
  };
  std::vector<std::shared_ptr<Slot>> mSlots;
  Connection mLastId = 0;
};

}  // namespace fm
