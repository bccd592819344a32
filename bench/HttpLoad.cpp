// http_load: a load generator for one or several formsmaint-server processes, as a load
// balancer would spread the workstations over them. Keep-alive connections are dealt out
// to the targets in turn; each sends the screen's requests one after the other for a fixed
// time and checks every answer: status 200 and "ok": true counts, "ok": false (a save that
// lost its races with the others) is counted apart, anything else fails the run.
// scripts/scale-out.sh runs it against 1, 2 and 4 servers on one PostgreSQL database.
//
//   search: the screen's search of one station's ranges of one form type;
//   save:   a save of one range (its comment changes: one UPD row, a history entry)
//           followed by the screen's requery of the same station, as the screen sends it.
//
// Each connection works on a range of its own (found by one search before the run), so
// saves do not wait on each other's rows, only on the database. Every run is bounded in
// time and sends only to the given addresses (loopback in the script).

#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ScreenRequest.h"
#include "protocol/Json.h"
#include "protocol/Messages.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Target {
  std::string host;
  std::string port;
};

Target ParseTarget(const std::string& text) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw std::runtime_error("a target is HOST:PORT: " + text);
  return {text.substr(0, colon), text.substr(colon + 1)};
}

// The range a connection works on, and the station it belongs to.
struct WorkRange {
  std::string troop;
  std::string district;
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t registry = 0;
  std::string status;
};

fm::protocol::Request BaseRequest(std::string id, int type) {
  return fm::testing::ScreenRequest("LOADTEST", std::move(id), type);
}

// The screen's search of the range's station and form type (also the requery of a save).
std::vector<fm::protocol::Criterion> StationSearch(const WorkRange& w) {
  return fm::testing::StationSearch(w.troop, w.district, w.formType);
}

std::string SaveBody(const WorkRange& w, const std::string& id, const std::string& comment) {
  fm::protocol::Request r = BaseRequest(id, fm::protocol::kSaveRequeryMessage);
  fm::protocol::DataSet rows;
  for (const char* name : {"ACTION", "FRM_FORM_NBR", "TO_FORM_NBR", "TRP_ID", "TRP_DIST_ID",
                           "FORM_TYP_CD", "ASGND_REG_NBR", "TRP_ACTN_CD", "TRP_FORM_CMMT_TXT"}) {
    rows.columns.push_back({name, fm::protocol::ColumnType::Text});
  }
  rows.rows.push_back({std::string("UPD"), std::to_string(w.from), std::to_string(w.to), w.troop,
                       w.district, w.formType, std::to_string(w.registry), w.status, comment});
  r.dataSets.emplace(fm::protocol::kTroopFormDataSet, std::move(rows));
  r.criteria = StationSearch(w);
  return fm::protocol::RequestToJson(r);
}

std::string HttpRequest(const std::string& body, const std::string& token) {
  std::string raw = "POST /v1/messages HTTP/1.1\r\nHost: forms\r\n";
  if (!token.empty()) raw += "Authorization: Bearer " + token + "\r\n";
  return raw +
         fmt::format("Content-Type: application/json\r\nContent-Length: {}\r\n\r\n", body.size()) +
         body;
}

// One blocking search, before the run: the ranges the connections will work on.
std::vector<WorkRange> FindWorkRanges(const Target& target, const std::string& token,
                                      const std::string& formType, std::size_t count) {
  net::io_context io;
  tcp::socket socket(io);
  net::connect(socket, tcp::resolver(io).resolve(target.host, target.port));
  fm::protocol::Request r =
      BaseRequest(fmt::format("load-find-{}", getpid()), fm::protocol::kSearchMessage);
  r.criteria = {fm::testing::ScreenKey("REF_TYP_CD", formType),
                fm::testing::ScreenKey("TRP_ACTN_CD", "A"), fm::testing::ScreenKey("THIN", "YES")};
  net::write(socket, net::buffer(HttpRequest(fm::protocol::RequestToJson(r), token)));
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  http::read(socket, buffer, response);
  fm::protocol::Reply reply = fm::protocol::ReplyFromJson(response.body());
  if (!reply.ok) throw std::runtime_error("the search for work ranges failed: " + reply.error);
  const auto& set = reply.dataSets.at(fm::protocol::kTroopFormDataSet);
  auto text = [&](const fm::protocol::Row& row, const char* column) {
    const auto& cell = row.at(static_cast<std::size_t>(set.ColumnIndex(column)));
    return std::holds_alternative<std::string>(cell) ? std::get<std::string>(cell) : "";
  };
  auto number = [&](const fm::protocol::Row& row, const char* column) {
    const auto& cell = row.at(static_cast<std::size_t>(set.ColumnIndex(column)));
    return std::holds_alternative<std::int64_t>(cell) ? std::get<std::int64_t>(cell) : 0;
  };
  std::vector<WorkRange> ranges;
  for (const auto& row : set.rows) {
    ranges.push_back({text(row, "TRP_ID"), text(row, "TRP_DIST_ID"), formType,
                      number(row, "FRM_FORM_NBR"), number(row, "TO_FORM_NBR"),
                      number(row, "ASGND_REG_NBR"), text(row, "TRP_ACTN_CD")});
  }
  if (ranges.size() < count) {
    throw std::runtime_error(
        fmt::format("{} connections need as many active ranges of form type "
                    "{}; the store has {}",
                    count, formType, ranges.size()));
  }
  // Spread over the inventory rather than the first stations only.
  std::vector<WorkRange> chosen;
  for (std::size_t i = 0; i < count; ++i) chosen.push_back(ranges[i * ranges.size() / count]);
  return chosen;
}

struct Run {
  bool save = false;
  std::string token;
  Clock::time_point measureFrom;
  Clock::time_point end;
  std::vector<double> latenciesMs;  // of the requests answered "ok" in the measured time
  long refused = 0;                 // answered, but "ok": false (a save that lost its races)
  std::string firstRefusal;
  long failures = 0;  // not answered, or not with status 200
  std::string firstFailure;
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(net::io_context& io, Run& run, WorkRange work, int number)
      : mStream(io), mRun(run), mWork(std::move(work)), mNumber(number) {}

  void Start(const tcp::resolver::results_type& endpoints) {
    mStream.async_connect(endpoints,
                          [self = shared_from_this()](beast::error_code ec, const tcp::endpoint&) {
                            if (ec) return self->Fail("connect: " + ec.message());
                            self->Send();
                          });
  }

 private:
  void Send() {
    if (Clock::now() >= mRun.end) return;
    std::string body;
    if (mRun.save) {
      std::string id = fmt::format("load-{}-{}-{}", getpid(), mNumber, mSent);
      body = SaveBody(mWork, id, fmt::format("load test save {}", mSent));
    } else {
      fm::protocol::Request r = BaseRequest(fmt::format("load-search-{}-{}", mNumber, mSent),
                                            fm::protocol::kSearchMessage);
      r.criteria = StationSearch(mWork);
      body = fm::protocol::RequestToJson(r);
    }
    ++mSent;
    mRequest = HttpRequest(body, mRun.token);
    mStarted = Clock::now();
    net::async_write(mStream, net::buffer(mRequest),
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                       if (ec) return self->Fail("write: " + ec.message());
                       self->Receive();
                     });
  }

  void Receive() {
    mResponse = {};
    http::async_read(mStream, mBuffer, mResponse,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                       if (ec) return self->Fail("read: " + ec.message());
                       self->Answered();
                     });
  }

  void Answered() {
    auto now = Clock::now();
    const bool measured = mStarted >= mRun.measureFrom && now <= mRun.end;
    if (mResponse.result_int() != 200) {
      Fail(fmt::format("status {}: {}", mResponse.result_int(), mResponse.body().substr(0, 300)));
    } else if (mResponse.body().find("\"ok\":true") == std::string::npos) {
      if (measured) ++mRun.refused;
      if (mRun.firstRefusal.empty()) mRun.firstRefusal = mResponse.body().substr(0, 600);
    } else if (measured) {
      mRun.latenciesMs.push_back(std::chrono::duration<double, std::milli>(now - mStarted).count());
    }
    Send();
  }

  void Fail(const std::string& what) {
    ++mRun.failures;
    if (mRun.firstFailure.empty()) mRun.firstFailure = what;
  }

  beast::tcp_stream mStream;
  Run& mRun;
  const WorkRange mWork;
  const int mNumber;
  long mSent = 0;
  std::string mRequest;
  beast::flat_buffer mBuffer;
  http::response<http::string_body> mResponse;
  Clock::time_point mStarted;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  auto k = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
  return values[k];
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "http_load: searches or saves against formsmaint-server processes for a fixed "
      "time; prints requests per second and latencies."};
  std::vector<std::string> targetTexts;
  std::string mode = "search";
  int connections = 16;
  double seconds = 10;
  double warmup = 2;
  std::string token;
  std::string formType = "C";
  bool printSearch = false;
  app.add_option("--target", targetTexts, "HOST:PORT of a server; repeat for several.");
  app.add_flag("--print-search", printSearch,
               "Print the JSON body of the search of station A1's form type (--form-type) and "
               "stop: scripts/search-vs-healthz.sh sends it with wrk.");
  app.add_option("--mode", mode, "search or save.")
      ->check(CLI::IsMember({"search", "save"}))
      ->capture_default_str();
  app.add_option("--connections", connections, "Keep-alive connections, dealt out in turn.")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  app.add_option("--seconds", seconds, "Measured time.")
      ->check(CLI::Range(0.5, 600.0))
      ->capture_default_str();
  app.add_option("--warmup", warmup, "Time before the measurement starts.")
      ->check(CLI::Range(0.0, 60.0))
      ->capture_default_str();
  app.add_option("--token", token, "Bearer token to send.");
  app.add_option("--form-type", formType, "Form type of the ranges worked on.")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  if (printSearch) {
    fm::protocol::Request search = BaseRequest("bench-search", fm::protocol::kSearchMessage);
    search.criteria = fm::testing::StationSearch("A", "1", formType);
    fmt::print("{}\n", fm::protocol::RequestToJson(search));
    return 0;
  }
  if (targetTexts.empty()) {
    fmt::print(stderr, "http_load: --target is required\n{}", app.help());
    return 2;
  }

  try {
    std::vector<Target> targets;
    for (const auto& t : targetTexts) targets.push_back(ParseTarget(t));
    auto work =
        FindWorkRanges(targets.front(), token, formType, static_cast<std::size_t>(connections));

    net::io_context io;
    Run run;
    run.save = mode == "save";
    run.token = token;
    auto start = Clock::now();
    run.measureFrom =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(warmup));
    run.end = run.measureFrom +
              std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    tcp::resolver resolver(io);
    std::vector<tcp::resolver::results_type> endpoints;
    for (const auto& t : targets) endpoints.push_back(resolver.resolve(t.host, t.port));
    for (int i = 0; i < connections; ++i) {
      std::make_shared<Connection>(io, run, work[static_cast<std::size_t>(i)], i)
          ->Start(endpoints[static_cast<std::size_t>(i) % endpoints.size()]);
    }
    // A request in flight at the end is abandoned: the run stops on time.
    io.run_until(run.end);

    const double rate = static_cast<double>(run.latenciesMs.size()) / seconds;
    fmt::print(
        "mode={} targets={} connections={} seconds={} requests={} refused={} rate={:.1f} "
        "p50_ms={:.2f} p99_ms={:.2f}\n",
        mode, targets.size(), connections, seconds, run.latenciesMs.size(), run.refused, rate,
        Percentile(run.latenciesMs, 0.5), Percentile(run.latenciesMs, 0.99));
    if (run.refused > 0) {
      fmt::print(stderr, "http_load: {} requests refused; the first: {}\n", run.refused,
                 run.firstRefusal);
    }
    if (run.failures > 0) {
      fmt::print(stderr, "http_load: {} failed requests; the first: {}\n", run.failures,
                 run.firstFailure);
      return 1;
    }
  } catch (const std::exception& e) {
    fmt::print(stderr, "http_load: {}\n", e.what());
    return 1;
  }
  return 0;
}
