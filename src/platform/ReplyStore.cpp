#include "platform/ReplyStore.h"

#include <algorithm>
#include <cctype>

namespace fm {

namespace {

// Names and identities are kept upper-cased so that lookups ignore letter case; request
// ids are the message component's own texts and compared as they are.
std::string Folded(const std::string& text) {
  std::string out = text;
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

}  // namespace

std::shared_ptr<DataSet> ReplyStore::Get(const std::string& name, const std::string& identity,
                                         const std::string& requestId) const {
  std::lock_guard lock(mMutex);
  const auto it = mDataSets.find({Folded(name), Folded(identity), requestId});
  return it == mDataSets.end() ? nullptr : it->second;
}

void ReplyStore::Put(std::shared_ptr<DataSet> dataSet, const std::string& name,
                     const std::string& identity) {
  Put(std::move(dataSet), name, identity, std::string());
}

void ReplyStore::Put(std::shared_ptr<DataSet> dataSet, const std::string& name,
                     const std::string& identity, const std::string& requestId) {
  Key key{Folded(name), Folded(identity), requestId};
  std::lock_guard lock(mMutex);
  // Putting nothing under a name takes the old data set away rather than keeping a null
  // entry that Get could not tell from a missing one anyway.
  if (!dataSet) {
    mDataSets.erase(key);
    return;
  }
  mDataSets.insert_or_assign(std::move(key), std::move(dataSet));
}

void ReplyStore::SetError(const std::string& identity, const std::string& requestId,
                          std::string error) {
  std::lock_guard lock(mMutex);
  mOutcomes.insert_or_assign({Folded(identity), requestId}, std::move(error));
}

std::string ReplyStore::Error(const std::string& identity, const std::string& requestId) const {
  std::lock_guard lock(mMutex);
  const auto it = mOutcomes.find({Folded(identity), requestId});
  return it == mOutcomes.end() ? std::string() : it->second;
}

bool ReplyStore::HasReply(const std::string& identity, const std::string& requestId) const {
  std::lock_guard lock(mMutex);
  return mOutcomes.count({Folded(identity), requestId}) > 0;
}

void ReplyStore::MarkReplied(const std::string& identity, const std::string& requestId) {
  std::lock_guard lock(mMutex);
  // A reply already known to have failed keeps its error text.
  mOutcomes.try_emplace({Folded(identity), requestId}, std::string());
}

void ReplyStore::Forget(const std::string& identity) {
  const std::string folded = Folded(identity);
  std::lock_guard lock(mMutex);
  std::erase_if(mDataSets, [&](const auto& entry) { return std::get<1>(entry.first) == folded; });
  std::erase_if(mOutcomes, [&](const auto& entry) { return entry.first.first == folded; });
}

void ReplyStore::ForgetAllBut(const std::string& identity, const std::string& keepRequestId) {
  const std::string folded = Folded(identity);
  std::lock_guard lock(mMutex);
  std::erase_if(mDataSets, [&](const auto& entry) {
    const auto& [name, id, request] = entry.first;
    return id == folded && !request.empty() && request != keepRequestId;
  });
  std::erase_if(mOutcomes, [&](const auto& entry) {
    return entry.first.first == folded && entry.first.second != keepRequestId;
  });
}

}  // namespace fm
