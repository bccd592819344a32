#include "platform/MessageComponent.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "platform/PlatformError.h"

namespace fm {

MessageRequest::MessageRequest(MessageComponent& component, std::string requestId)
    : mComponent(component), mRequestId(std::move(requestId)) {}

void MessageRequest::AttachDataSet(std::shared_ptr<DataSet> dataSet, std::string name) {
  if (!dataSet) return;
  mDataSets.emplace_back(std::move(name), std::move(dataSet));
}

void MessageRequest::AddCriterion(std::string key, std::string value, std::string op,
                                  std::string application) {
  mCriteria.push_back({std::move(key), std::move(value), std::move(op), std::move(application)});
}

void MessageRequest::Send() {
  if (mSent) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Request {} has already been sent", mRequestId));
  }
  mSent = true;
  mComponent.Send(*this);
}

namespace {
std::mutex gSharedMutex;
std::shared_ptr<MessageComponent> gShared;
MessageComponent::Factory gFactory;
}  // namespace

std::shared_ptr<MessageComponent> MessageComponent::Obtain() {
  std::lock_guard lock(gSharedMutex);
  if (!gShared) {
    if (!gFactory) {
      throw PlatformError(PlatformError::kGeneric,
                          "No message transport is configured for this program");
    }
    gShared = gFactory();
  }
  return gShared;
}

void MessageComponent::SetFactory(Factory factory) {
  std::lock_guard lock(gSharedMutex);
  gFactory = std::move(factory);
  gShared.reset();
}

std::unique_ptr<MessageRequest> MessageComponent::CreateRequest() {
  return std::make_unique<MessageRequest>(*this, NewRequestId());
}

void MessageComponent::AddListener(MessageListener* listener) {
  std::lock_guard lock(mMutex);
  if (std::find(mListeners.begin(), mListeners.end(), listener) == mListeners.end()) {
    mListeners.push_back(listener);
  }
}

void MessageComponent::RemoveListener(MessageListener* listener) {
  std::lock_guard lock(mMutex);
  std::erase(mListeners, listener);
}

std::size_t MessageComponent::ListenerCount() const {
  std::lock_guard lock(mMutex);
  return mListeners.size();
}

void MessageComponent::ForEachListener(const std::function<void(MessageListener&)>& raise) {
  // A handler may release the component or open a dialog that adds listeners: iterate over
  // a snapshot, and skip listeners removed meanwhile.
  std::vector<MessageListener*> snapshot;
  {
    std::lock_guard lock(mMutex);
    snapshot = mListeners;
  }
  for (MessageListener* listener : snapshot) {
    {
      std::lock_guard lock(mMutex);
      if (std::find(mListeners.begin(), mListeners.end(), listener) == mListeners.end()) continue;
    }
    raise(*listener);
  }
}

void MessageComponent::RaiseDataReady(const std::string& target) {
  ForEachListener([&](MessageListener& listener) { listener.OnDataReady(target); });
}

void MessageComponent::RaiseMsgTimeout(long value) {
  ForEachListener([&](MessageListener& listener) { listener.OnMsgTimeout(value); });
}

void MessageComponent::RaiseExchangeEnded(const ExchangeOutcome& outcome) {
  ForEachListener([&](MessageListener& listener) { listener.OnExchangeEnded(outcome); });
}

std::string NewRequestId() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  return fmt::format("{:013x}-{:016x}{:016x}", now, generator(), generator());
}

}  // namespace fm
