#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/DataSet.h"
#include "platform/ReplyStore.h"

namespace fm {
namespace {

std::shared_ptr<DataSet> NewDataSet() { return std::make_shared<DataSet>(); }

TEST(ReplyStoreTest, DataSetsAreFoundByNameAndIdentityInAnyCaseButExactRequestId) {
  ReplyStore store;
  const auto forms = NewDataSet();
  const auto officers = NewDataSet();
  store.Put(forms, "TROOPFORM", "SCR.TARVO_FormsMaint#1", "R7");
  store.Put(officers, "OFFICER", "SCR.TARVO_FormsMaint#1", "R7");

  EXPECT_EQ(store.Get("troopform", "scr.tarvo_formsmaint#1", "R7"), forms);
  EXPECT_EQ(store.Get("Officer", "SCR.TARVO_FORMSMAINT#1", "R7"), officers);
  EXPECT_EQ(store.Get("TROOPFORM", "SCR.TARVO_FormsMaint#1", "R8"), nullptr);
  EXPECT_EQ(store.Get("TROOPFORM", "SCR.TARVO_FormsMaint#2", "R7"), nullptr);
  EXPECT_EQ(store.Get("NOSUCH", "SCR.TARVO_FormsMaint#1", "R7"), nullptr);

  // Putting again replaces, putting nothing removes; no request id is the empty one.
  store.Put(forms, "OFFICER", "Doc");
  store.Put(officers, "officer", "DOC");
  EXPECT_EQ(store.Get("OFFICER", "Doc", ""), officers);
  store.Put(nullptr, "OFFICER", "Doc");
  EXPECT_EQ(store.Get("OFFICER", "Doc", ""), nullptr);
}

TEST(ReplyStoreTest, OutcomesTellReplyFromNoReplyAndKeepTheirErrorText) {
  ReplyStore store;
  EXPECT_FALSE(store.HasReply("Doc", "R1"));
  EXPECT_EQ(store.Error("Doc", "R1"), "");

  store.MarkReplied("Doc", "R1");
  EXPECT_TRUE(store.HasReply("doc", "R1"));
  EXPECT_EQ(store.Error("Doc", "R1"), "");

  store.SetError("DOC", "R2", "Range overlaps an existing range");
  EXPECT_TRUE(store.HasReply("Doc", "R2"));
  store.MarkReplied("Doc", "R2");  // a late acknowledgement keeps the error
  EXPECT_EQ(store.Error("doc", "R2"), "Range overlaps an existing range");
  EXPECT_FALSE(store.HasReply("Doc", "r2"));
}

TEST(ReplyStoreTest, ForgettingKeepsTheLatestRequestTheRegisteredSetsAndOtherDocuments) {
  ReplyStore store;
  const auto old = NewDataSet();
  const auto latest = NewDataSet();
  const auto registered = NewDataSet();
  const auto otherDocument = NewDataSet();
  store.Put(old, "TROOPFORM", "Doc", "R1");
  store.SetError("Doc", "R1", "");
  store.Put(latest, "TROOPFORM", "Doc", "R2");
  store.SetError("Doc", "R2", "");
  store.Put(registered, "TROOPFORM", "Doc");
  store.Put(otherDocument, "TROOPFORM", "Other", "R1");
  store.MarkReplied("Other", "R1");

  store.ForgetAllBut("DOC", "R2");
  EXPECT_EQ(store.Get("TROOPFORM", "Doc", "R1"), nullptr);
  EXPECT_FALSE(store.HasReply("Doc", "R1"));
  EXPECT_EQ(store.Get("TROOPFORM", "Doc", "R2"), latest);
  EXPECT_TRUE(store.HasReply("Doc", "R2"));
  EXPECT_EQ(store.Get("TROOPFORM", "Doc", ""), registered);

  store.Forget("DOC");
  EXPECT_EQ(store.Get("TROOPFORM", "Doc", "R2"), nullptr);
  EXPECT_FALSE(store.HasReply("Doc", "R2"));
  EXPECT_EQ(store.Get("TROOPFORM", "Other", "R1"), otherDocument);
  EXPECT_TRUE(store.HasReply("Other", "R1"));
}

TEST(ReplyStoreTest, RepliesStoredFromWorkerThreadsAreAllKept) {
  ReplyStore store;
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&store, t] {
      for (int i = 0; i < 100; ++i) {
        const std::string id = std::to_string(t) + "-" + std::to_string(i);
        store.Put(NewDataSet(), "TROOPFORM", "Doc", id);
        store.MarkReplied("Doc", id);
      }
    });
  }
  for (auto& worker : workers) worker.join();
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 100; ++i) {
      const std::string id = std::to_string(t) + "-" + std::to_string(i);
      EXPECT_NE(store.Get("TROOPFORM", "Doc", id), nullptr) << id;
      EXPECT_TRUE(store.HasReply("Doc", id)) << id;
    }
  }
}

}  // namespace
}  // namespace fm
