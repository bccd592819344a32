// The memory budget of the requests a server receives, under random traffic: bodies arriving,
// finishing or timing out, requests handled, replies made and written, waiting requests
// started by a runner the test drives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "server/http/BodyBudget.h"

namespace fm::server {
namespace {

struct Request {
  enum class Stage { Arriving, Waiting, Handled, Writing, Gone };
  std::shared_ptr<BodyReservation> reservation;
  Stage stage = Stage::Arriving;
  bool queues = false;    // asks more than its body: it may wait
  bool resolved = false;  // started or refused, once it queued
};

TEST(BodyBudget, HoldsNoMoreThanItsLimitAndLeavesNoRequestWaitingForNothing) {
  const char* given = std::getenv("FM_TEST_SEED");
  const unsigned seed =
      given && *given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : 20261207u;
  SCOPED_TRACE("seed " + std::to_string(seed) + " (FM_TEST_SEED repeats a run)");
  std::mt19937_64 random(seed);
  auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  constexpr std::size_t kLimit = 100;

  for (int run = 0; run < 200; ++run) {
    BodyBudget budget(kLimit);
    // A handler thread takes each job at once, so jobs run in the order the budget decides.
    budget.SetRunner([](BodyBudget::Job job) { job(); });
    std::deque<Request> requests;     // never shrinks: the jobs refer to their request by index
    std::vector<std::size_t> queued;  // in the order they were queued
    auto gone = [&](std::size_t i) {
      requests[i].reservation.reset();
      requests[i].stage = Request::Stage::Gone;
    };
    // Those the budget has not started or refused yet, queued before or after `i`.
    auto waiting = [&](std::size_t i, bool before) {
      std::size_t count = 0;
      bool past = false;
      for (std::size_t q : queued) {
        past = past || q == i;
        count += !requests[q].resolved && q != i && past != before ? 1 : 0;
      }
      return count;
    };
    std::size_t startedNow = 0;
    auto among = [&](Request::Stage stage) {
      std::vector<std::size_t> found;
      for (std::size_t i = 0; i < requests.size(); ++i) {
        if (requests[i].stage == stage) found.push_back(i);
      }
      return found.empty() ? requests.size() : found[below(found.size())];
    };

    for (int step = 0; step < 400; ++step) {
      const std::size_t action = below(5);
      if (action == 0) {
        const std::size_t bytes = 1 + below(60);
        const std::size_t before = budget.Held();
        if (auto reservation = budget.TakeForBody(bytes)) {
          requests.push_back({std::move(reservation)});
          EXPECT_LE(before + bytes, kLimit);
          EXPECT_EQ(waiting(requests.size(), true), 0u)
              << "a body is taken while others wait for room";
        } else {
          EXPECT_TRUE(before + bytes > kLimit || waiting(requests.size(), true) > 0)
              << "a body that fits is refused while none waits";
        }
      } else if (const std::size_t i = among(Request::Stage::Arriving);
                 action <= 2 && i < requests.size()) {
        const std::size_t more = below(3) == 0 ? 0 : below(90);
        if (action == 2 && below(4) == 0) {
          gone(i);  // the body stops arriving (a time-out)
        } else {
          requests[i].stage = Request::Stage::Waiting;
          // One asking nothing more is never held up, so it may pass those waiting.
          requests[i].queues = more > 0;
          if (more > 0) queued.push_back(i);
          startedNow = requests.size();
          budget.Handle(
              requests[i].reservation, more,
              [&, i] {
                requests[i].stage = Request::Stage::Handled;
                if (requests[i].queues) {
                  EXPECT_EQ(waiting(i, true), 0u) << "started before one that came first";
                  requests[i].resolved = true;
                }
                startedNow = i;
              },
              [&, i] {
                EXPECT_EQ(requests[i].reservation->Bytes(), 0u);
                EXPECT_EQ(waiting(i, false), 0u) << "refused before one that came later";
                for (const Request& r : requests) {
                  EXPECT_FALSE(r.reservation && r.stage != Request::Stage::Waiting)
                      << "refused while a request that will give back is under way";
                }
                requests[i].resolved = true;
                gone(i);
              });
          if (more == 0) {
            EXPECT_EQ(startedNow, i) << "a request asking nothing more waits";
          }
        }
      } else if (const std::size_t h = among(Request::Stage::Handled);
                 action == 3 && h < requests.size()) {
        requests[h].reservation->Hold(below(30));  // the reply, made
        requests[h].stage = Request::Stage::Writing;
      } else if (const std::size_t w = among(Request::Stage::Writing);
                 action == 4 && w < requests.size()) {
        gone(w);  // written
      }

      // What it holds is what the requests hold; without the replies, within the limit.
      std::size_t held = 0;
      std::size_t replies = 0;
      std::size_t busy = 0;  // arriving, handled or answered: what will give back
      for (const Request& r : requests) {
        if (!r.reservation) continue;
        held += r.reservation->Bytes();
        replies += r.stage == Request::Stage::Writing ? r.reservation->Bytes() : 0;
        busy += r.stage != Request::Stage::Waiting ? 1 : 0;
      }
      ASSERT_EQ(budget.Held(), held) << "run " << run << ", step " << step;
      EXPECT_LE(held - replies, kLimit);
      if (busy == 0) {
        EXPECT_EQ(waiting(requests.size(), true), 0u) << "a request waits for nothing";
      }
    }
    budget.SetRunner(nullptr);
    requests.clear();
    EXPECT_EQ(budget.Held(), 0u);
  }
}

}  // namespace
}  // namespace fm::server
