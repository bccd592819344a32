// ReadingCost against what reading really holds: every allocation of this test program is
// counted, and the peak while a request is read must stay within the cost of its text,
// whatever the text is made of.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>

#include "JsonDamage.h"
#include "protocol/Json.h"

namespace {

std::atomic<std::size_t> gHeld{0};
std::atomic<std::size_t> gPeak{0};

void* Allocate(std::size_t bytes) {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) throw std::bad_alloc();
  // What the heap gives for it: the usable size and the chunk's header.
  const std::size_t held = gHeld += malloc_usable_size(p) + 16;
  std::size_t peak = gPeak.load();
  while (held > peak && !gPeak.compare_exchange_weak(peak, held)) {
  }
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  gHeld -= malloc_usable_size(p) + 16;
  std::free(p);
}

}  // namespace

void* operator new(std::size_t bytes) { return Allocate(bytes); }
void* operator new[](std::size_t bytes) { return Allocate(bytes); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace fm::protocol {
namespace {

// The most held at once while `read` runs on `text`, beyond what was held before.
template <typename Reader>
std::size_t PeakWhileReading(Reader read, const std::string& text) {
  const std::size_t before = gHeld.load();
  gPeak = before;
  try {
    read(text);
  } catch (const std::exception&) {
  }
  return gPeak.load() - before;
}

// Each reader within its cost.
void ExpectWithinCost(const std::string& text) {
  EXPECT_LE(PeakWhileReading(RequestFromJson, text), RequestReadingCost(text))
      << text.substr(0, 200);
  EXPECT_LE(PeakWhileReading(WithdrawalRequestFromJson, text), ReadingCost(text))
      << text.substr(0, 200);
}

std::string Repeated(const std::string& head, const std::string& unit, std::size_t count,
                     const std::string& tail) {
  std::string text = head;
  for (std::size_t i = 0; i < count; ++i) text += (i > 0 ? "," : "") + unit;
  return text + tail;
}

const std::string kHead =
    R"({"request_id":"r","identity":"X","version":"1.0","requester":"F","user_id":1,)"
    R"("message_type":34,"criteria":[],)";

// The texts that cost a reader most for their size: many values of a byte or two, long
// texts and long stretches without a value, each `count` times.
std::vector<std::string> Extremes(std::size_t count) {
  const std::string rows =
      kHead + R"("data_sets":{"T":{"columns":[{"name":"A","type":"text"}],"rows":[)";
  std::string wide = kHead + R"("data_sets":{"T":{"columns":[)";
  for (int c = 0; c < 40; ++c)
    wide += fmt::format(R"({}{{"name":"c{}","type":"integer"}})", c ? "," : "", c);
  wide += R"(],"rows":[)";
  return {
      Repeated(kHead + R"("data_sets":{"T":{"columns":[],"rows":[)", "[]", count, "]}}}"),
      Repeated(rows, "[null]", count, "]}}}"),
      Repeated(rows, R"([""])", count, "]}}}"),
      Repeated(wide, "[" + Repeated("", "1", 40, "") + "]", count / 40, "]}}}"),
      Repeated(kHead.substr(0, kHead.find("\"criteria\"")) + R"("criteria":[)", "{}", count, "]}"),
      Repeated(kHead.substr(0, kHead.find("\"criteria\"")) + R"("criteria":[)",
               R"({"key":"","value":"","op":"","application":""})", count / 8, "]}"),
      Repeated(R"({"request_id":"r","criteria":[)",
               R"({"key":"","value":"","op":"","application":""})", count / 8, "]}"),
      Repeated(kHead + R"("data_sets":{"T":{"rows":[],"columns":[)",
               R"({"name":"x","type":"text"})", count / 8, "]}}}"),
      std::string(count * 4, ' '),
      std::string(count, '[') + std::string(count * 3, ' '),
      R"({"request_id":")" + std::string(count * 4, 'y') + R"(\n","identity":1})",
      R"({"request_id":"r","identity":")" + std::string(count * 4, 'y') + R"("})",
      R"({"form_type":"C","reason":")" + std::string(count * 2, 'z') + "\\u00e9\"}",
      // Broken where the parser's message shows the whole stretch it read last.
      std::string(count * 4, '\n') + "x",
      "[\"" + std::string(count * 4, 'y') + "\"x",
      // The big data set first and its rows before its columns, members after it.
      Repeated(R"({"data_sets":{"A":{"rows":[)", R"(["abc"])", count,
               R"(],"columns":[{"name":"A","type":"text"}]},"B":{"rows":[],"columns":[]}},)") +
          kHead.substr(1, kHead.size() - 2) + "}",
  };
}

// A request of random make: data sets of random width and kinds of cells, texts of any
// length (escapes and bytes beyond ASCII among them), blanks between values, criteria.
std::string RandomText(std::mt19937_64& random) {
  auto below = [&](std::uint64_t n) { return random() % n; };
  auto text = [&] {
    static const std::string pieces[] = {"a", "Z9", " ", "\\\"", "\\n", "\\u00e9", "\xc3\xa9"};
    std::string t = "\"";
    const auto length = below(4) == 0 ? below(3000) : below(20);
    while (t.size() < length) t += pieces[below(4) == 0 ? below(std::size(pieces)) : 0];
    return t + "\"";
  };
  auto blank = [&] { return std::string(below(6) == 0 ? below(200) : below(2), ' '); };
  std::string out = kHead.substr(0, kHead.size() - 1) + blank() + ",\"data_sets\":{";
  const auto sets = below(3);
  for (std::uint64_t s = 0; s < sets; ++s) {
    const auto width = below(12);
    std::string kinds;
    out += fmt::format(R"({}"S{}":{{"columns":[)", s ? "," : "", s);
    for (std::uint64_t c = 0; c < width; ++c) {
      kinds += "tid"[below(3)];
      const char* type = kinds.back() == 't' ? "text" : kinds.back() == 'i' ? "integer" : "double";
      out += fmt::format(R"({}{{"name":"c{}","type":"{}"}})", c ? "," : "", c, type);
    }
    out += "],\"rows\":[";
    const auto rows = below(3) == 0 ? below(20000) : below(50);
    for (std::uint64_t r = 0; r < rows; ++r) {
      out += r ? ",[" : "[";
      for (std::uint64_t c = 0; c < width; ++c) {
        out += (c ? "," : "") + blank();
        if (below(5) == 0) {
          out += "null";
        } else if (kinds[c] == 't') {
          out += text();
        } else {
          out += kinds[c] == 'i' ? std::to_string(random() >> below(64)) : "2.5e3";
        }
      }
      out += "]";
    }
    out += "]}";
  }
  out += "},\"criteria\":[";
  const auto criteria = below(4) == 0 ? below(3000) : below(5);
  for (std::uint64_t i = 0; i < criteria; ++i) {
    out += fmt::format(R"({}{{"key":{},"value":{},"op":"=","application":{}}})", i ? "," : "",
                       text(), text(), text());
  }
  return out + "]}" + blank();
}

TEST(ReadingCost, BoundsWhatReadingHoldsWhateverTheTextIsMadeOf) {
  const unsigned seed = testing::SeedForThisRun(20250311u);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (FM_TEST_SEED repeats a run)");
  std::mt19937_64 random(seed);
  // Sizes at random, so that the readers' vectors meet their growth at every point.
  for (std::size_t count : {std::size_t{1} << 12, 70000 + random() % 200000}) {
    for (const std::string& text : Extremes(count)) {
      ExpectWithinCost(text);
    }
  }
  for (int i = 0; i < 60; ++i) {
    std::string text = RandomText(random);
    if (i % 3 == 0) text = testing::Damaged(std::move(text), random);
    ExpectWithinCost(text);
  }
}

TEST(ReadingCost, AnOrdinarySaveCostsAFewTimesItsText) {
  // 10,000 change rows of the screen's layout, each with a long comment: what a big save is.
  std::string text = kHead +
                     R"("data_sets":{"TROOPFORM":{"columns":[)"
                     R"({"name":"ACTION","type":"text"},{"name":"FRM_FORM_NBR","type":"integer"},)"
                     R"({"name":"TRP_FORM_CMMT_TXT","type":"text"}],"rows":[)";
  text = Repeated(text, R"(["ADD",1100001,")" + std::string(640, 'x') + "\"]", 10000, "]}}}");
  EXPECT_LT(ReadingCost(text), 3 * text.size());
}

}  // namespace
}  // namespace fm::protocol
