#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "platform/MessageComponent.h"
#include "platform/QueueEventLoop.h"

namespace fm::testing {

// A document as far as the component is concerned: it writes down every event in order,
// and may run a check while it handles DataReady (what a document reads from the store
// must be there by then). `withOutcomes`: what a connection indicator hears is written
// down too ("Answered:ID", "Failed:ID", "TimedOut:ID"), with its reason in Reasons().
class RecordingListener final : public MessageListener {
 public:
  explicit RecordingListener(bool withOutcomes = false) : mWithOutcomes(withOutcomes) {}

  void OnDataReady(const std::string& target) override {
    mEvents.push_back("DataReady:" + target);
    if (mOnDataReady) mOnDataReady(target);
  }
  void OnMsgTimeout(long /*value*/) override { mEvents.push_back("MsgTimeout"); }
  void OnExchangeEnded(const ExchangeOutcome& outcome) override {
    if (!mWithOutcomes) return;
    static const char* const kNames[] = {"Answered", "Failed", "TimedOut"};
    mEvents.push_back(std::string(kNames[static_cast<int>(outcome.result)]) + ":" +
                      outcome.identity);
    mReasons.push_back(outcome.reason);
  }

  const std::vector<std::string>& Events() const { return mEvents; }
  const std::vector<std::string>& Reasons() const { return mReasons; }
  void OnDataReadyDo(std::function<void(const std::string&)> check) {
    mOnDataReady = std::move(check);
  }

 private:
  bool mWithOutcomes;
  std::vector<std::string> mEvents;
  std::vector<std::string> mReasons;
  std::function<void(const std::string&)> mOnDataReady;
};

// Runs the loop's events until `done` holds or `limit` of real time passes. Work posted by
// a transport's worker thread arrives while this waits; a ManualClock is never advanced, so
// no time-out fires by accident.
inline bool PumpUntil(QueueEventLoop& loop, const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    loop.ProcessPendingEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace fm::testing
