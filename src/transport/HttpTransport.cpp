#include "transport/HttpTransport.h"

#include <fmt/format.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>

#include "platform/PlatformError.h"
#include "protocol/Json.h"
#include "protocol/ProtocolError.h"
#include "transport/HttpAddress.h"

namespace fm {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr const char* kMessagesPath = "/v1/messages";
constexpr const char* kUserAgent = "formsmaint/1.0";
// An error body is a short explanation; anything longer is not worth parsing.
constexpr std::size_t kLargestErrorBody = std::size_t{64} * 1024;

[[noreturn]] void Fail(std::string text) {
  throw PlatformError(PlatformError::kGeneric, std::move(text));
}

std::string SecondsText(std::chrono::milliseconds duration) {
  const auto ms = duration.count();
  if (ms % 1000 == 0) return fmt::format("{} second{}", ms / 1000, ms == 1000 ? "" : "s");
  return fmt::format("{:.1f} seconds", static_cast<double>(ms) / 1000.0);
}

std::string SizeText(std::size_t bytes) {
  constexpr std::size_t kKilo = 1024;
  if (bytes >= kKilo * kKilo) return fmt::format("{} MB", bytes / (kKilo * kKilo));
  if (bytes >= kKilo) return fmt::format("{} KB", bytes / kKilo);
  return fmt::format("{} bytes", bytes);
}

std::string Trimmed(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// A token goes into a header: one word of visible ASCII characters.
bool IsTokenText(std::string_view token) {
  return !token.empty() &&
         std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c <= '~'; });
}

// The token of the file: its first line that is neither blank nor a "#" comment, as
// `formsmaint-server token add` printed it.
std::string ReadToken(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) {
    Fail(
        fmt::format("The access token file {} could not be read ({}). Check the token_file "
                    "setting or ask the help desk for the file.",
                    file.string(), std::strerror(errno)));
  }
  std::string line;
  while (std::getline(in, line)) {
    std::string token = Trimmed(line);
    if (token.empty() || token.front() == '#') continue;
    if (!IsTokenText(token)) {
      Fail(
          fmt::format("The access token file {} does not hold a token: its first line is not "
                      "one word. Ask the help desk for a new token.",
                      file.string()));
    }
    return token;
  }
  Fail(fmt::format("The access token file {} holds no token. Ask the help desk for a token.",
                   file.string()));
}

// The server's explanation from an error answer: {"error": "words"}; a body of another
// form is shown as it stands, shortened.
std::string ExplanationOf(const std::string& body, std::string_view reason) {
  if (!body.empty() && body.size() <= kLargestErrorBody) {
    const auto json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (json.is_object()) {
      for (const char* member : {"error", "message"}) {
        const auto it = json.find(member);
        if (it != json.end() && it->is_string()) return it->get<std::string>();
      }
    }
  }
  std::string text = Trimmed(body.substr(0, 300));
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  if (!text.empty()) return text;
  return reason.empty() ? std::string("no explanation given") : std::string(reason);
}

enum class Stage { Resolve, Connect, Handshake, Send, Receive };

}  // namespace

struct HttpTransport::Impl {
  Impl(Options opts, HttpAddress addr) : options(std::move(opts)), address(std::move(addr)) {}

  Options options;
  HttpAddress address;
  asio::io_context ioc;
  std::optional<ssl::context> tls;
  // Exactly one of the two is set while a connection is open.
  std::optional<beast::tcp_stream> plain;
  std::optional<beast::ssl_stream<beast::tcp_stream>> secure;
  std::optional<tcp::resolver> resolver;  // while a name is being looked up
  beast::flat_buffer buffer;
  std::string verifyFailure;  // why the last handshake's certificate check refused, if it did
  std::mutex exchangeMutex;   // one exchange at a time over the one connection
  std::atomic<bool> cancelled{false};
  std::atomic<std::size_t> connectionsOpened{0};

  bool Connected() const { return plain.has_value() || secure.has_value(); }
  beast::tcp_stream& Lowest() { return secure ? beast::get_lowest_layer(*secure) : *plain; }

  // Runs the io_context until the operation `start` begins has completed; answers its error.
  // Every operation here carries its own deadline, so the run always ends.
  template <typename Start>
  beast::error_code Run(Start&& start) {
    if (cancelled) return asio::error::operation_aborted;
    beast::error_code result = asio::error::would_block;
    std::forward<Start>(start)([&result](beast::error_code ec, auto&&...) { result = ec; });
    ioc.restart();
    ioc.run();
    return result;
  }

  void Close() {
    if (Connected()) {
      beast::error_code ignored;  // closing a connection that is already broken
      Lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
      Lowest().socket().close(ignored);
    }
    secure.reset();
    plain.reset();
    buffer.clear();
  }

  [[noreturn]] void FailAt(Stage stage, const beast::error_code& ec) {
    const std::string origin = address.Origin();
    if (cancelled) Fail("The request was abandoned because the program is closing.");
    if (ec == beast::error::timeout || ec == asio::error::operation_aborted) {
      Fail(
          fmt::format("The forms server at {} did not answer within {}. The request may still "
                      "have been carried out: search again before repeating a save.",
                      origin, SecondsText(options.timeout)));
    }
    switch (stage) {
      case Stage::Resolve:
        Fail(
            fmt::format("The forms server {} could not be found ({}). Check the server "
                        "setting and this workstation's network connection.",
                        address.host, ec.message()));
      case Stage::Connect:
        Fail(
            fmt::format("The forms server at {} could not be reached ({}). Check that the "
                        "server is running and that this workstation is connected to the "
                        "network; if it keeps happening, call the help desk.",
                        origin, ec.message()));
      case Stage::Handshake:
        if (!verifyFailure.empty()) {
          Fail(fmt::format(
              "A secure connection to the forms server at {} was refused by this workstation: "
              "the server's certificate is not trusted ({}). It is not signed by an authority "
              "this workstation trusts{}, or it was issued for another name than {}. Check "
              "the server and ca_file settings or call the help desk.",
              origin, verifyFailure,
              options.caFile.empty()
                  ? std::string(" (the system's)")
                  : fmt::format(" (the system's and those of {})", options.caFile.string()),
              address.host));
        }
        Fail(
            fmt::format("A secure connection to the forms server at {} could not be made "
                        "({}). The server's certificate may not be trusted by this "
                        "workstation; call the help desk.",
                        origin, ec.message()));
      case Stage::Send:
        Fail(
            fmt::format("The connection to the forms server at {} broke while sending the "
                        "request ({}). Please try again.",
                        origin, ec.message()));
      case Stage::Receive:
        if (ec == http::error::body_limit) {
          Fail(
              fmt::format("The forms server's reply is larger than {} and was not read. "
                          "Narrow the selection and search again.",
                          SizeText(options.maxReplyBytes)));
        }
        Fail(
            fmt::format("The connection to the forms server at {} broke while waiting for the "
                        "reply ({}). The request may still have been carried out: search "
                        "again before repeating a save.",
                        origin, ec.message()));
    }
    Fail(ec.message());
  }

  void Connect(Clock::time_point deadline) {
    if (cancelled) FailAt(Stage::Resolve, asio::error::operation_aborted);
    resolver.emplace(ioc);
    tcp::resolver::results_type endpoints;
    beast::error_code resolveError = asio::error::would_block;
    asio::steady_timer resolveTimer(ioc);
    bool resolveTimedOut = false;
    resolveTimer.expires_at(deadline);
    resolveTimer.async_wait([&](beast::error_code ec) {
      if (!ec) {
        resolveTimedOut = true;
        resolver->cancel();
      }
    });
    resolver->async_resolve(address.host, std::to_string(address.port),
                            [&](beast::error_code ec, tcp::resolver::results_type results) {
                              resolveError = ec;
                              endpoints = std::move(results);
                              resolveTimer.cancel();
                            });
    ioc.restart();
    ioc.run();
    resolver.reset();
    if (resolveTimedOut) FailAt(Stage::Resolve, beast::error::timeout);
    if (resolveError) FailAt(Stage::Resolve, resolveError);

    if (tls) {
      secure.emplace(ioc, *tls);
      // Servers that host several names pick the certificate by the name asked for; an IP
      // address is never sent as a name.
      beast::error_code notAnAddress;
      asio::ip::make_address(address.host, notAnAddress);
      if (notAnAddress &&
          // SSL_set_tlsext_host_name spelled out: the macro's C cast trips the warnings.
          SSL_ctrl(secure->native_handle(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                   static_cast<void*>(const_cast<char*>(address.host.c_str()))) != 1) {
        Close();
        Fail(fmt::format("A secure connection to the forms server at {} could not be set up.",
                         address.Origin()));
      }
      secure->set_verify_mode(ssl::verify_peer);
      verifyFailure.clear();
      // What the check refused is kept, so the clerk reads "certificate has expired" or
      // "unable to get local issuer certificate" rather than a bare handshake failure.
      secure->set_verify_callback([this, check = ssl::host_name_verification(address.host)](
                                      bool preverified, ssl::verify_context& context) mutable {
        const bool trusted = check(preverified, context);
        if (!trusted && verifyFailure.empty()) {
          const int error = X509_STORE_CTX_get_error(context.native_handle());
          verifyFailure = error != X509_V_OK ? X509_verify_cert_error_string(error)
                                             : "the certificate was issued for another host name";
        }
        return trusted;
      });
    } else {
      plain.emplace(ioc);
    }
    Lowest().expires_at(deadline);
    if (const auto ec = Run([&](auto handler) { Lowest().async_connect(endpoints, handler); })) {
      Close();
      FailAt(Stage::Connect, ec);
    }
    if (secure) {
      if (const auto ec = Run(
              [&](auto handler) { secure->async_handshake(ssl::stream_base::client, handler); })) {
        Close();
        FailAt(Stage::Handshake, ec);
      }
    }
    ++connectionsOpened;
  }

  // Sends the request and reads the answer over the open connection. Answers the error and
  // the stage it happened in, or no error.
  template <typename Stream>
  std::pair<beast::error_code, Stage> Transfer(Stream& stream,
                                               http::request<http::string_body>& request,
                                               http::response_parser<http::string_body>& parser) {
    if (auto ec = Run([&](auto handler) { http::async_write(stream, request, handler); })) {
      return {ec, Stage::Send};
    }
    // The head first: Beast 1.74 loses its own body-limit error when it reads a whole
    // message eagerly, so the announced length is checked here before the body is read.
    if (auto ec =
            Run([&](auto handler) { http::async_read_header(stream, buffer, parser, handler); })) {
      return {ec, Stage::Receive};
    }
    const auto length = parser.content_length();
    if (length && *length > options.maxReplyBytes) return {http::error::body_limit, Stage::Receive};
    if (auto ec = Run([&](auto handler) { http::async_read(stream, buffer, parser, handler); })) {
      return {ec, Stage::Receive};
    }
    return {{}, Stage::Receive};
  }

  protocol::Reply Exchange(const protocol::Request& request) {
    std::lock_guard lock(exchangeMutex);
    if (cancelled) Fail("The request was abandoned because the program is closing.");

    http::request<http::string_body> message{http::verb::post, address.basePath + kMessagesPath,
                                             11};
    message.set(http::field::host, address.HostHeader());
    message.set(http::field::user_agent, kUserAgent);
    message.set(http::field::content_type, "application/json");
    message.set(http::field::accept, "application/json");
    if (!options.token.empty()) {
      message.set(http::field::authorization, "Bearer " + options.token);
    } else if (!options.tokenFile.empty()) {
      message.set(http::field::authorization, "Bearer " + ReadToken(options.tokenFile));
    }
    message.keep_alive(true);
    message.body() = protocol::RequestToJson(request);
    message.prepare_payload();

    const auto deadline = Clock::now() + options.timeout;
    std::optional<http::response_parser<http::string_body>> parser;
    for (int attempt = 1;; ++attempt) {
      const bool reused = Connected();
      if (!reused) Connect(deadline);
      Lowest().expires_at(deadline);
      parser.emplace();
      parser->body_limit(options.maxReplyBytes);
      const auto [ec, stage] =
          secure ? Transfer(*secure, message, *parser) : Transfer(*plain, message, *parser);
      if (!ec) break;
      Close();
      // A kept connection the server has meanwhile closed fails at once (reset, end of
      // stream); one more try on a fresh connection is what a browser does too.
      const bool stale = reused && attempt == 1 && ec != beast::error::timeout && !cancelled;
      if (stale) {
        spdlog::debug("kept connection to {} was closed ({}); reconnecting", address.Origin(),
                      ec.message());
        continue;
      }
      FailAt(stage, ec);
    }

    auto response = parser->release();
    if (!response.keep_alive()) Close();
    const unsigned status = response.result_int();
    if (status == 200) {
      try {
        return protocol::ReplyFromJson(response.body());
      } catch (const protocol::ProtocolError& error) {
        Fail(
            fmt::format("The forms server's reply could not be read ({}). Please try again; if "
                        "it keeps happening, call the help desk.",
                        error.what()));
      }
    }
    FailStatus(status, response);
  }

  [[noreturn]] void FailStatus(unsigned status, const http::response<http::string_body>& response) {
    const std::string origin = address.Origin();
    const std::string explanation = ExplanationOf(response.body(), std::string(response.reason()));
    switch (status) {
      case 401:
        if (options.token.empty() && options.tokenFile.empty()) {
          throw AccountRefusal(
              fmt::format("The forms server at {} asks for an access token and none is set up "
                          "on this workstation (settings token or token_file): {}. Ask the "
                          "help desk for a token.",
                          origin, explanation));
        }
        throw AccountRefusal(fmt::format(
            "The forms server at {} refused this workstation's access token: {}. Check the {} "
            "or ask the help desk for a new token.",
            origin, explanation,
            options.token.empty() ? fmt::format("token file {}", options.tokenFile.string())
                                  : std::string("token setting")));
      case 403:
        // The server says in its own words what this account may not do ("Your account may
        // not change ranges of Troop/District B2. ..."): that is what the clerk must read.
        throw AccountRefusal(explanation);
      case 413:
        Fail(
            fmt::format("The request is too large for the forms server: {}. Save fewer ranges "
                        "at a time.",
                        explanation));
      case 400:
      case 422:
        Fail(fmt::format("The forms server could not accept the request: {}", explanation));
      case 404:
      case 405:
        Fail(
            fmt::format("The forms server at {} does not answer requests at {} (HTTP {}): {}. "
                        "Check the server setting.",
                        origin, address.basePath + kMessagesPath, status, explanation));
      case 503:
        Fail(
            fmt::format("The forms server at {} cannot take the request now: {}. Please try "
                        "again in a moment.",
                        origin, explanation));
      default:
        break;
    }
    if (status >= 500) {
      Fail(
          fmt::format("The forms server at {} failed while handling the request (HTTP {}): {}. "
                      "Please try again; if it keeps happening, call the help desk.",
                      origin, status, explanation));
    }
    Fail(fmt::format("The forms server at {} answered with HTTP status {}: {}", origin, status,
                     explanation));
  }
};

HttpTransport::HttpTransport(Options options) {
  HttpAddress address = HttpAddress::Parse(options.address);
  mImpl = std::make_unique<Impl>(std::move(options), std::move(address));
  const std::string& token = mImpl->options.token;
  if (!token.empty() && !IsTokenText(token)) {
    Fail(
        "The access token set up on this workstation is not one word of visible characters. "
        "Check the token setting or ask the help desk for a new token.");
  }
  if (mImpl->address.tls) {
    mImpl->tls.emplace(ssl::context::tls_client);
    // TLS 1.0 and 1.1 are broken; no server of ours speaks them.
    SSL_CTX_set_min_proto_version(mImpl->tls->native_handle(), TLS1_2_VERSION);
    beast::error_code ec;
    mImpl->tls->set_default_verify_paths(ec);
    if (ec) spdlog::warn("the system's trusted certificates could not be loaded: {}", ec.message());
    if (!mImpl->options.caFile.empty()) {
      mImpl->tls->load_verify_file(mImpl->options.caFile.string(), ec);
      if (ec) {
        Fail(
            fmt::format("The certificate file {} could not be loaded ({}). Check the file or "
                        "call the help desk.",
                        mImpl->options.caFile.string(), ec.message()));
      }
    }
  }
}

HttpTransport::~HttpTransport() {
  if (mImpl) mImpl->Close();
}

protocol::Reply HttpTransport::Exchange(const protocol::Request& request) {
  return mImpl->Exchange(request);
}

void HttpTransport::Cancel() {
  mImpl->cancelled = true;
  // The stream may only be touched by the thread running the io_context: posted, the close
  // runs inside the exchange in progress. Every later step sees the flag and gives up.
  asio::post(mImpl->ioc, [impl = mImpl.get()] {
    if (impl->resolver) impl->resolver->cancel();
    if (impl->Connected()) {
      beast::error_code ignored;
      impl->Lowest().socket().cancel(ignored);
      impl->Lowest().socket().close(ignored);
    }
  });
}

std::size_t HttpTransport::ConnectionsOpened() const { return mImpl->connectionsOpened.load(); }

}  // namespace fm
