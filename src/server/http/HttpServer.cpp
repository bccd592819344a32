#include "server/http/HttpServer.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <condition_variable>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "server/http/AccessLog.h"
#include "server/http/BodyBudget.h"
#include "server/http/HttpApi.h"
#include "server/http/HttpServerError.h"
#include "server/http/TokenFile.h"

namespace fm::server {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 4096;
constexpr const char* kServerName = "formsmaint-server";
// After an answer sent before the request's body was read, the connection is drained for
// at most this long (and this many bytes) before it is closed: closing a socket with unread
// data resets the connection, and the client would lose the answer it has not read yet.
constexpr auto kLingerTime = std::chrono::seconds(5);
constexpr std::size_t kLingerBytes = std::size_t{64} * 1024 * 1024;

std::string PeerText(const tcp::endpoint& endpoint) {
  const auto& address = endpoint.address();
  return address.is_v6() ? fmt::format("[{}]:{}", address.to_string(), endpoint.port())
                         : fmt::format("{}:{}", address.to_string(), endpoint.port());
}

// Beast of Boost 1.74 answers Boost's own string_view.
std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

class SessionBase;

// What the sessions share with the server: the options, the endpoints, the access log,
// the handler pool, the TLS context, the body budget and the registry of open connections
// that a stop waits on.
class Core {
 public:
  enum class Admission { Accepted, Busy, Stopping };

  // The endpoints are built from the options once they are moved in (mOptions comes first).
  Core(HttpServerOptions options, std::shared_ptr<RequestHandler> handler)
      : mOptions(std::move(options)),
        mApi(std::make_unique<HttpApi>(std::move(handler), mOptions.tokens, mOptions.limits)),
        mBudget(mOptions.bodyBudget) {}

  const HttpServerOptions& Options() const { return mOptions; }
  const HttpApi& Api() const { return *mApi; }
  HttpApi& Api() { return *mApi; }
  AccessLog& Log() { return *mLog; }
  net::thread_pool& Pool() { return *mPool; }
  BodyBudget& Budget() { return mBudget; }
  // Set when connections speak TLS.
  ssl::context* Tls() { return mTls ? &*mTls : nullptr; }

  void SetLog(std::unique_ptr<AccessLog> log) { mLog = std::move(log); }
  void SetPool(net::thread_pool* pool) {
    mPool = pool;
    if (pool == nullptr) return mBudget.SetRunner(nullptr);
    mBudget.SetRunner([pool](BodyBudget::Job job) { net::post(*pool, std::move(job)); });
  }
  void SetTls(ssl::context context) { mTls.emplace(std::move(context)); }

  // Busy: registered, but over the connection limit (to be answered 503).
  Admission Register(const std::shared_ptr<SessionBase>& session);
  void Unregister(SessionBase* session);
  // Sets the stopping flag; answers the sessions open at that moment.
  std::vector<std::shared_ptr<SessionBase>> BeginStop();
  std::vector<std::shared_ptr<SessionBase>> OpenSessions();
  bool Stopping() const {
    std::lock_guard lock(mMutex);
    return mStopping;
  }
  // Waits until every session is gone or the time is up; answers whether they are gone.
  bool WaitForSessions(std::chrono::milliseconds limit) {
    std::unique_lock lock(mMutex);
    return mSessionsGone.wait_for(lock, limit, [this] { return mSessions.empty(); });
  }

 private:
  const HttpServerOptions mOptions;
  const std::unique_ptr<HttpApi> mApi;
  std::unique_ptr<AccessLog> mLog;  // set by Start before any session exists
  net::thread_pool* mPool = nullptr;
  std::optional<ssl::context> mTls;  // set by Start before any session exists
  BodyBudget mBudget;

  mutable std::mutex mMutex;  // guards the members below
  std::condition_variable mSessionsGone;
  std::unordered_map<SessionBase*, std::weak_ptr<SessionBase>> mSessions;
  bool mStopping = false;
};

// What the server and the registry need of a connection, whatever it speaks.
class SessionBase {
 public:
  explicit SessionBase(Core& core) : mCore(core) {}
  virtual ~SessionBase() { mCore.Unregister(this); }
  SessionBase(const SessionBase&) = delete;
  SessionBase& operator=(const SessionBase&) = delete;

  virtual void Run() = 0;
  // Answers `answer` at once without reading anything, then closes.
  virtual void Refuse(HttpAnswer answer) = 0;
  // Stop: an idle connection, or one whose request header is still arriving, is closed; a
  // request in flight is answered with "Connection: close". `force` closes in any case.
  virtual void Shutdown(bool force) = 0;

 protected:
  Core& mCore;
};

// One client connection over `Stream`: beast::tcp_stream, or an ssl_stream over one. Every
// member runs on the connection's strand; only Shutdown may be called from elsewhere (it
// posts onto the strand). The request handler runs on the core's pool, which also starts
// the answer's write; the write's completions run on the strand.
template <typename Stream>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Stream>> {
 public:
  template <typename... StreamArguments>
  Session(Core& core, std::string peer, StreamArguments&&... arguments)
      : SessionBase(core),
        mStream(std::forward<StreamArguments>(arguments)...),
        mPeer(std::move(peer)) {}

  void Run() override {
    net::dispatch(mStream.get_executor(), [self = this->shared_from_this()] {
      self->Handshake([self] { self->WaitForRequest(); });
    });
  }

  void Refuse(HttpAnswer answer) override {
    net::dispatch(mStream.get_executor(),
                  [self = this->shared_from_this(), a = std::move(answer)]() mutable {
                    self->Handshake([self, a = std::move(a)]() mutable {
                      self->mStart = Clock::now();
                      self->Respond(std::move(a), true);
                    });
                  });
  }

  void Shutdown(bool force) override {
    net::dispatch(mStream.get_executor(), [self = this->shared_from_this(), force] {
      std::lock_guard lock(self->mHandoff);  // a handler thread may be starting a write
      self->mCloseRequested = true;
      if (force || self->mPhase == Phase::Waiting || self->mPhase == Phase::ReadingHeader ||
          self->mPhase == Phase::Lingering || self->mPhase == Phase::Handshaking) {
        self->Close();
      }
    });
  }

 private:
  enum class Phase {
    Handshaking,
    Waiting,
    ReadingHeader,
    ReadingBody,
    Handling,
    Writing,
    Lingering,
    Closed
  };
  static constexpr bool kSecure = !std::is_same_v<Stream, beast::tcp_stream>;

  beast::tcp_stream& Lowest() { return beast::get_lowest_layer(mStream); }

  // TLS: the handshake, within the read time-out, before anything else; plain: nothing.
  template <typename Next>
  void Handshake(Next next) {
    if constexpr (kSecure) {
      mPhase = Phase::Handshaking;
      Lowest().expires_after(mCore.Options().readTimeout);
      mStream.async_handshake(
          ssl::stream_base::server,
          [self = this->shared_from_this(), next = std::move(next)](beast::error_code ec) mutable {
            // A client that does not speak TLS, or not well enough, gets
            // nothing: there is no channel to answer it on.
            if (ec || self->mCloseRequested) return self->Close();
            next();
          });
    } else {
      next();
    }
  }

  void WaitForRequest() {
    mPhase = Phase::Waiting;
    mMethod.clear();
    mTarget.clear();
    mVersion = 11;
    if (mCloseRequested) return Close();
    if (mBuffer.size() > 0) return ReadHeader();  // the next request came with the last one
    Lowest().expires_after(mCore.Options().idleTimeout);
    mStream.async_read_some(mBuffer.prepare(kReadChunk), [self = this->shared_from_this()](
                                                             beast::error_code ec, std::size_t n) {
      if (ec) return self->Close();  // idle time-out, or the client closed: nothing to say
      self->mBuffer.commit(n);
      self->ReadHeader();
    });
  }

  void ReadHeader() {
    mPhase = Phase::ReadingHeader;
    mStart = Clock::now();
    mParser.emplace();
    mParser->header_limit(
        static_cast<std::uint32_t>(std::min<std::size_t>(mCore.Options().headerLimit, UINT32_MAX)));
    // The body limit is checked by hand once the header is in, so that a client without a
    // token learns that first rather than the size of what it would have sent. (Not
    // boost::none: Beast 1.74 compares a Content-Length with it as if it were zero.)
    mParser->body_limit(std::numeric_limits<std::uint64_t>::max());
    Lowest().expires_at(mStart + mCore.Options().readTimeout);
    http::async_read_header(mStream, mBuffer, *mParser,
                            [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                              self->OnHeader(ec);
                            });
  }

  void OnHeader(beast::error_code ec) {
    if (ec) return ReadFailed(ec);
    auto& request = mParser->get();
    mMethod = std::string(View(request.method_string()));
    mTarget = std::string(View(request.target()));
    mVersion = request.version();
    mKeepAlive = request.keep_alive();

    HttpAdmission admission =
        mCore.Api().Admit(mMethod, mTarget, View(request[http::field::authorization]),
                          View(request[http::field::content_type]));
    if (!admission.endpoint) return Respond(std::move(admission.refusal), !mParser->is_done());
    mEndpoint = *admission.endpoint;
    mPrincipal = std::move(admission.principal);
    if (mParser->is_done()) return Dispatch();

    const std::size_t limit = mCore.Options().bodyLimit;
    const auto length = mParser->content_length();
    if (length && *length > limit) {
      return Respond(HttpApi::Error(413, fmt::format("the request body is {} bytes; this server "
                                                     "accepts at most {} bytes",
                                                     *length, limit)),
                     true);
    }
    // A body of unknown length (chunked) may grow to the limit, so it counts as that much.
    const std::size_t reserved = length ? static_cast<std::size_t>(*length) : limit;
    mReservation = mCore.Budget().TakeForBody(reserved);
    if (!mReservation) {
      HttpAnswer busy = HttpApi::Error(
          503, fmt::format("the server is receiving as many request bodies as it takes at once "
                           "({} bytes); try again shortly",
                           mCore.Budget().Limit()));
      busy.headers.emplace_back("Retry-After", "1");
      return Respond(std::move(busy), true);
    }
    mParser->body_limit(limit);
    mPhase = Phase::ReadingBody;
    if (beast::iequals(request[http::field::expect], "100-continue")) {
      mContinue.emplace(http::status::continue_, mVersion);
      Lowest().expires_after(mCore.Options().writeTimeout);
      http::async_write(mStream, *mContinue,
                        [self = this->shared_from_this()](beast::error_code e, std::size_t) {
                          if (e) return self->Close();
                          self->ReadBody();
                        });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    Lowest().expires_at(mStart + mCore.Options().readTimeout);
    http::async_read(mStream, mBuffer, *mParser,
                     [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                       if (ec) return self->ReadFailed(ec);
                       self->Dispatch();
                     });
  }

  void ReadFailed(beast::error_code ec) {
    mReservation.reset();
    if (mPhase == Phase::Closed || ec == net::error::operation_aborted) return Close();
    if (ec == http::error::header_limit) {
      return Respond(HttpApi::Error(431, fmt::format("the request header is larger than {} bytes",
                                                     mCore.Options().headerLimit)),
                     true);
    }
    if (ec == http::error::body_limit) {
      return Respond(HttpApi::Error(413, fmt::format("the request body is larger than {} bytes, "
                                                     "the most this server accepts",
                                                     mCore.Options().bodyLimit)),
                     true);
    }
    if (ec == beast::error::timeout) {
      // The stream has closed the socket: there is no one left to answer, but the attempt
      // belongs in the access log.
      mCore.Log().Record(mPeer, mMethod, mTarget, 408, 0, Clock::now() - mStart);
      return Close();
    }
    if (ec == http::error::end_of_stream || ec == http::error::partial_message ||
        ec == net::error::eof || ec == net::error::connection_reset ||
        ec == net::error::broken_pipe || ec == ssl::error::stream_truncated) {
      return Close();  // the client went away mid-request
    }
    Respond(HttpApi::Error(400, fmt::format("the request is not valid HTTP/1.1: {}", ec.message())),
            true);
  }

  // What a request brings to its handling.
  struct Work {
    HttpEndpoint endpoint;
    std::string target;
    Principal principal;
    std::string body;
    std::shared_ptr<BodyReservation> reservation;
    std::string buffer;  // the connection's last reply's, for this one
  };

  // The one thread hop of a request: the handler runs on the pool, and the response's write
  // starts from there too (RespondFromHandler); only the write's completions come back to
  // the connection's strand.
  void Dispatch() {
    mPhase = Phase::Handling;
    auto work = std::make_shared<Work>();
    work->endpoint = mEndpoint;
    work->target = mTarget;
    work->principal = mPrincipal;
    work->body = std::move(mParser->get().body());
    work->buffer = std::move(mReplyBuffer);
    work->reservation = mReservation ? std::move(mReservation) : mCore.Budget().TakeNothing();
    // A chunked body was counted as the body limit; it is what arrived.
    if (work->reservation->Bytes() > work->body.capacity()) {
      work->reservation->Hold(work->body.capacity());
    }
    net::post(mCore.Pool(), [self = this->shared_from_this(), work] { self->Admit(work); });
  }

  // On a handler thread: the request is handled once the budget has room for what handling
  // it takes (at once, mostly), or refused: 413 when it never could, 503 when the budget
  // gives up on it.
  void Admit(const std::shared_ptr<Work>& work) {
    BodyBudget& budget = mCore.Budget();
    const std::size_t cost = HttpApi::HandlingCost(work->endpoint, work->body);
    const std::size_t total = work->reservation->Bytes() + cost;
    if (total > budget.Limit()) {
      work->reservation.reset();
      return RespondFromHandler(HttpApi::Error(
          413, fmt::format("reading and answering this request would hold about {} bytes of "
                           "memory, more than the {} bytes this server gives to the requests it "
                           "handles at once: its body of {} bytes holds too many values, or too "
                           "long a stretch without one, for its size; send less in one request",
                           total, budget.Limit(), work->body.size())));
    }
    auto self = this->shared_from_this();
    budget.Handle(
        work->reservation, cost, [self, work] { self->Handle(*work); },
        [self, work] {
          work->reservation.reset();
          work->body = std::string();
          HttpAnswer busy = HttpApi::Error(
              503, fmt::format("the server is handling as many requests as the memory it gives "
                               "them allows ({} bytes); try again shortly",
                               self->mCore.Budget().Limit()));
          busy.headers.emplace_back("Retry-After", "1");
          self->RespondFromHandler(std::move(busy));
        });
  }

  void Handle(Work& work) {
    HttpAnswer answer = mCore.Api().Answer(work.endpoint, work.target, work.body, work.principal,
                                           std::move(work.buffer));
    work.body = std::string();
    // From now on the request holds its reply alone, until the reply is written.
    work.reservation->Hold(answer.body.capacity());
    RespondFromHandler(std::move(answer), std::move(work.reservation));
  }

  // On a handler thread. While the handler runs, no operation of the connection is pending
  // and nothing of it runs on the strand but a stop's Shutdown, which takes mHandoff as
  // well; so the write can be started from here, and its completions run on the strand.
  void RespondFromHandler(HttpAnswer answer, std::shared_ptr<BodyReservation> reservation = {}) {
    std::lock_guard lock(mHandoff);
    mReservation = std::move(reservation);
    Respond(std::move(answer), false);
  }

  // `unread`: the request's body has not been read, so the connection cannot carry another.
  void Respond(HttpAnswer answer, bool unread) {
    if (mPhase == Phase::Closed) return;  // closed by a forced stop while the handler ran
    mPhase = Phase::Writing;
    const bool keepAlive = mKeepAlive && !unread && !mCloseRequested && !mCore.Stopping();
    mResponse = {};
    mResponse.version(mVersion);
    mResponse.result(answer.status);
    mResponse.set(http::field::server, kServerName);
    mResponse.set(http::field::content_type, "application/json");
    mResponse.set(http::field::cache_control, "no-store");
    for (auto& [name, value] : answer.headers) mResponse.set(name, value);
    mResponse.body() = std::move(answer.body);
    mResponse.keep_alive(keepAlive);
    mStatus = answer.status;
    Lowest().expires_after(mCore.Options().writeTimeout);
    if (mVersion >= 11 && mResponse.body().size() > mCore.Options().chunkedReplyAbove) {
      return WriteChunked(keepAlive, unread);
    }
    mResponse.prepare_payload();
    http::async_write(
        mStream, mResponse,
        [self = this->shared_from_this(), keepAlive, unread](beast::error_code ec, std::size_t) {
          self->OnWritten(ec, keepAlive, unread);
        });
  }

  // A large body in chunks, each written from the body itself (no copy): the header, then
  // WriteChunk until the last one. The write time-out set by Respond covers the whole reply.
  void WriteChunked(bool keepAlive, bool unread) {
    mChunkedHead = {};
    mChunkedHead.version(mVersion);
    mChunkedHead.result(mResponse.result());
    for (const auto& field : mResponse) mChunkedHead.set(field.name_string(), field.value());
    mChunkedHead.keep_alive(keepAlive);
    mChunkedHead.chunked(true);
    mChunkedSerializer.emplace(mChunkedHead);
    mChunkOffset = 0;
    http::async_write_header(
        mStream, *mChunkedSerializer,
        [self = this->shared_from_this(), keepAlive, unread](beast::error_code ec, std::size_t) {
          if (ec) return self->OnWritten(ec, keepAlive, unread);
          self->WriteChunk(keepAlive, unread);
        });
  }

  void WriteChunk(bool keepAlive, bool unread) {
    const std::string& body = mResponse.body();
    auto next = [self = this->shared_from_this(), keepAlive, unread](beast::error_code ec,
                                                                     std::size_t) {
      if (ec || self->mChunkOffset == self->mResponse.body().size() + 1) {
        self->mChunkedSerializer.reset();
        return self->OnWritten(ec, keepAlive, unread);
      }
      self->WriteChunk(keepAlive, unread);
    };
    if (mChunkOffset == body.size()) {
      ++mChunkOffset;  // past the end: the last chunk is on its way
      return net::async_write(mStream, http::make_chunk_last(), std::move(next));
    }
    const std::size_t n = std::min(mCore.Options().replyChunkBytes, body.size() - mChunkOffset);
    const net::const_buffer piece(body.data() + mChunkOffset, n);
    mChunkOffset += n;
    net::async_write(mStream, http::make_chunk(piece), std::move(next));
  }

  void OnWritten(beast::error_code ec, bool keepAlive, bool unread) {
    mCore.Log().Record(mPeer, mMethod, mTarget, mStatus, mResponse.body().size(),
                       Clock::now() - mStart);
    mReservation.reset();  // the reply's part of the budget
    // The body's buffer serves the connection's next reply, unless it has grown past what a
    // connection keeps.
    mReplyBuffer = std::move(mResponse.body());
    mReplyBuffer.clear();
    if (mReplyBuffer.capacity() > mCore.Options().replyBufferKeep) std::string().swap(mReplyBuffer);
    mResponse = {};
    if (ec) return Close();
    if (keepAlive) return WaitForRequest();
    if (unread) return Linger();
    Close();
  }

  // The bytes still arriving are read off the socket itself and dropped (under TLS too: no
  // need to decrypt what is thrown away).
  void Linger() {
    mPhase = Phase::Lingering;
    beast::error_code ignored;
    Lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
    mBuffer.clear();
    mLingerEnd = Clock::now() + kLingerTime;
    mLingered = 0;
    DrainSome();
  }

  void DrainSome() {
    Lowest().expires_at(mLingerEnd);
    Lowest().async_read_some(mBuffer.prepare(kReadChunk), [self = this->shared_from_this()](
                                                              beast::error_code ec, std::size_t n) {
      self->mLingered += n;
      if (ec || self->mLingered > kLingerBytes) return self->Close();
      self->DrainSome();  // the data is dropped: prepare reuses it
    });
  }

  void Close() {
    mPhase = Phase::Closed;
    mReservation.reset();
    beast::error_code ignored;
    Lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
    Lowest().close();
  }

  Stream mStream;
  beast::flat_buffer mBuffer;
  const std::string mPeer;

  Phase mPhase = Phase::Waiting;
  bool mCloseRequested = false;  // a stop has begun: answer what is in flight, then close
  // The request being read or answered.
  std::optional<http::request_parser<http::string_body>> mParser;
  std::optional<http::response<http::empty_body>> mContinue;
  http::response<http::string_body> mResponse;
  // A chunked reply: its header alone, and how far its body has been handed to the socket.
  http::response<http::empty_body> mChunkedHead;
  std::optional<http::response_serializer<http::empty_body>> mChunkedSerializer;
  std::size_t mChunkOffset = 0;
  std::string mReplyBuffer;  // the last reply's body, cleared, for the next reply
  // Taken by a handler thread while it starts the response's write, and by Shutdown.
  std::mutex mHandoff;
  HttpEndpoint mEndpoint = HttpEndpoint::Health;
  Principal mPrincipal;
  // The request's part of the budget while its body is read, and its reply's while written.
  std::shared_ptr<BodyReservation> mReservation;
  std::string mMethod;
  std::string mTarget;
  unsigned mVersion = 11;
  bool mKeepAlive = false;
  unsigned mStatus = 0;
  Clock::time_point mStart;
  Clock::time_point mLingerEnd;
  std::size_t mLingered = 0;
};

Core::Admission Core::Register(const std::shared_ptr<SessionBase>& session) {
  std::lock_guard lock(mMutex);
  if (mStopping) return Admission::Stopping;
  mSessions.emplace(session.get(), session);
  return mSessions.size() > mOptions.maxConnections ? Admission::Busy : Admission::Accepted;
}

void Core::Unregister(SessionBase* session) {
  std::lock_guard lock(mMutex);
  mSessions.erase(session);
  if (mSessions.empty()) mSessionsGone.notify_all();
}

std::vector<std::shared_ptr<SessionBase>> Core::BeginStop() {
  {
    std::lock_guard lock(mMutex);
    mStopping = true;
  }
  return OpenSessions();
}

std::vector<std::shared_ptr<SessionBase>> Core::OpenSessions() {
  std::lock_guard lock(mMutex);
  std::vector<std::shared_ptr<SessionBase>> open;
  for (auto& [raw, weak] : mSessions) {
    if (auto session = weak.lock()) open.push_back(std::move(session));
  }
  return open;
}

// The server's TLS context: the certificate chain and key of the options, TLS 1.2 at least,
// no renegotiation, no compression.
ssl::context MakeTlsContext(const HttpServerOptions& options) {
  if (options.tlsCertificate.empty() || options.tlsKey.empty()) {
    throw HttpServerError(
        "TLS needs both a certificate (--tls-cert) and its private key "
        "(--tls-key)");
  }
  ssl::context context(ssl::context::tls_server);
  context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                      ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                      ssl::context::no_compression | ssl::context::single_dh_use);
  SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
  SSL_CTX_set_options(context.native_handle(), SSL_OP_NO_RENEGOTIATION);
  beast::error_code ec;
  context.use_certificate_chain_file(options.tlsCertificate.string(), ec);
  if (ec) {
    throw HttpServerError(fmt::format("the TLS certificate {} cannot be used: {}",
                                      options.tlsCertificate.string(), ec.message()));
  }
  context.use_private_key_file(options.tlsKey.string(), ssl::context::pem, ec);
  if (ec) {
    throw HttpServerError(
        fmt::format("the TLS private key {} cannot be used with the "
                    "certificate {}: {}",
                    options.tlsKey.string(), options.tlsCertificate.string(), ec.message()));
  }
  if (SSL_CTX_check_private_key(context.native_handle()) != 1) {
    throw HttpServerError(
        fmt::format("the TLS private key {} does not belong to the "
                    "certificate {}",
                    options.tlsKey.string(), options.tlsCertificate.string()));
  }
  return context;
}

}  // namespace

class HttpServer::Impl {
 public:
  Impl(std::shared_ptr<RequestHandler> handler, HttpServerOptions options)
      : mCore(std::move(options), std::move(handler)) {}

  ~Impl() { Stop(); }

  void Start();
  void Stop();

  unsigned short Port() const { return mEndpoint.port(); }
  std::string Endpoint() const { return PeerText(mEndpoint); }
  void ReplaceTokens(std::shared_ptr<const TokenTable> tokens) {
    mCore.Api().ReplaceTokens(std::move(tokens));
  }
  bool Secure() const { return !mCore.Options().tlsCertificate.empty(); }

 private:
  void Accept();
  void OnAccept(beast::error_code ec, tcp::socket socket);
  void RunIo();

  std::mutex mLifecycleMutex;  // Start and Stop one at a time
  bool mStarted = false;
  bool mStopped = false;

  // The core outlives the I/O context: sessions destroyed with the context unregister.
  Core mCore;
  std::unique_ptr<net::io_context> mIo;
  std::optional<net::executor_work_guard<net::io_context::executor_type>> mWork;
  std::unique_ptr<tcp::acceptor> mAcceptor;  // used on its strand only, once started
  std::unique_ptr<net::steady_timer> mAcceptRetry;
  tcp::endpoint mEndpoint;
  std::vector<std::thread> mIoThreads;
  std::unique_ptr<net::thread_pool> mPool;
};

void HttpServer::Impl::Start() {
  std::lock_guard lifecycle(mLifecycleMutex);
  const HttpServerOptions& options = mCore.Options();
  if (mStarted) throw HttpServerError("the HTTP server has been started already");
  if (options.threads < 1 || options.ioThreads < 1) {
    throw HttpServerError(
        fmt::format("the HTTP server needs at least one handler thread and "
                    "one I/O thread (got {} and {})",
                    options.threads, options.ioThreads));
  }
  if (options.bodyLimit == 0 || options.headerLimit == 0 || options.maxConnections == 0 ||
      options.bodyBudget == 0) {
    throw HttpServerError(
        "the body limit, header limit, body budget and connection limit must be above 0");
  }
  if (options.chunkedReplyAbove == 0 || options.replyChunkBytes == 0) {
    throw HttpServerError("the chunked reply threshold and the reply chunk size must be above 0");
  }
  if (options.bodyBudget < options.bodyLimit) {
    throw HttpServerError(fmt::format(
        "the body budget ({} bytes) is below the body limit ({} bytes): no request with a body "
        "of the largest size accepted could ever be received",
        options.bodyBudget, options.bodyLimit));
  }
  const std::string host = options.address == "localhost" ? "127.0.0.1" : options.address;
  beast::error_code ec;
  net::ip::address address = net::ip::make_address(host, ec);
  if (ec) {
    throw HttpServerError(fmt::format(
        "the listen address \"{}\" is not an IP address (for example 127.0.0.1 or 0.0.0.0)",
        options.address));
  }
  const bool secure = !options.tlsCertificate.empty() || !options.tlsKey.empty();
  if (!IsLoopbackAddress(host)) {
    if (!options.tokens) {
      throw HttpServerError(fmt::format(
          "refusing to listen on {} without bearer tokens: give a token file, or listen on a "
          "loopback address such as 127.0.0.1",
          options.address));
    }
    if (!secure && !options.insecureBehindProxy) {
      throw HttpServerError(fmt::format(
          "refusing to listen on {} without TLS: bearer tokens would cross the network in "
          "clear. Give a certificate and key, or, when a TLS-terminating proxy on this host or "
          "a private link is the only way in, say so with --insecure-behind-proxy",
          options.address));
    }
    if (!secure) {
      spdlog::warn(
          "listening on {} without TLS (--insecure-behind-proxy): bearer tokens and inventory "
          "data cross the network in clear unless a TLS-terminating proxy is the only way in",
          options.address);
    }
  }
  if (secure) mCore.SetTls(MakeTlsContext(options));
  mCore.SetLog(std::make_unique<AccessLog>(options.accessLog, options.accessLogFlush));

  mIo = std::make_unique<net::io_context>(options.ioThreads);
  mAcceptor = std::make_unique<tcp::acceptor>(net::make_strand(*mIo));
  mAcceptRetry = std::make_unique<net::steady_timer>(mAcceptor->get_executor());
  tcp::endpoint endpoint(address, options.port);
  auto fail = [&](const char* what) {
    throw HttpServerError(
        fmt::format("cannot listen on {}: {} failed: {}", PeerText(endpoint), what, ec.message()));
  };
  if (mAcceptor->open(endpoint.protocol(), ec)) fail("open");
  if (mAcceptor->set_option(net::socket_base::reuse_address(true), ec)) fail("set reuse_address");
  if (mAcceptor->bind(endpoint, ec)) fail("bind");
  if (mAcceptor->listen(net::socket_base::max_listen_connections, ec)) fail("listen");
  mEndpoint = mAcceptor->local_endpoint();

  mPool = std::make_unique<net::thread_pool>(static_cast<std::size_t>(options.threads));
  mCore.SetPool(mPool.get());
  mWork.emplace(mIo->get_executor());
  net::post(mAcceptor->get_executor(), [this] { Accept(); });
  for (int i = 0; i < options.ioThreads; ++i) mIoThreads.emplace_back([this] { RunIo(); });
  mStarted = true;
}

void HttpServer::Impl::RunIo() {
  // A handler that throws must not take the server down with it; the connection it served
  // is lost, the others go on.
  for (;;) {
    try {
      mIo->run();
      return;
    } catch (const std::exception& e) {
      spdlog::error("HTTP server: {}", e.what());
    }
  }
}

void HttpServer::Impl::Accept() {
  if (mCore.Stopping()) return;
  mAcceptor->async_accept(net::make_strand(*mIo), [this](beast::error_code ec, tcp::socket socket) {
    OnAccept(ec, std::move(socket));
  });
}

void HttpServer::Impl::OnAccept(beast::error_code ec, tcp::socket socket) {
  if (ec == net::error::operation_aborted || mCore.Stopping()) return;
  if (ec) {
    // Out of descriptors, most likely: give the open connections time to finish instead of
    // spinning on the failing accept.
    spdlog::warn("HTTP server: accepting a connection failed: {}", ec.message());
    mAcceptRetry->expires_after(std::chrono::milliseconds(100));
    mAcceptRetry->async_wait([this](beast::error_code e) {
      if (!e) Accept();
    });
    return;
  }
  beast::error_code peerError;
  tcp::endpoint peer = socket.remote_endpoint(peerError);
  std::string peerText = peerError ? std::string("-") : PeerText(peer);
  std::shared_ptr<SessionBase> session;
  if (ssl::context* tls = mCore.Tls()) {
    session = std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(
        mCore, std::move(peerText), std::move(socket), *tls);
  } else {
    session =
        std::make_shared<Session<beast::tcp_stream>>(mCore, std::move(peerText), std::move(socket));
  }
  switch (mCore.Register(session)) {
    case Core::Admission::Accepted:
      session->Run();
      break;
    case Core::Admission::Busy: {
      HttpAnswer busy = HttpApi::Error(
          503, fmt::format("the server has {} connections open, the most it takes; try again "
                           "shortly",
                           mCore.Options().maxConnections));
      busy.headers.emplace_back("Retry-After", "1");
      session->Refuse(std::move(busy));
      break;
    }
    case Core::Admission::Stopping:
      return;  // the socket closes with the session
  }
  Accept();
}

void HttpServer::Impl::Stop() {
  std::lock_guard lifecycle(mLifecycleMutex);
  if (!mStarted || mStopped) return;
  mStopped = true;

  for (auto& session : mCore.BeginStop()) session->Shutdown(false);
  std::promise<void> closed;
  net::post(mAcceptor->get_executor(), [this, &closed] {
    beast::error_code ignored;
    mAcceptor->close(ignored);
    mAcceptRetry->cancel();
    closed.set_value();
  });
  closed.get_future().wait();

  bool gone = mCore.WaitForSessions(mCore.Options().stopGrace);
  if (!gone) {
    spdlog::warn("HTTP server: requests still in flight after {} ms; closing their connections",
                 mCore.Options().stopGrace.count());
    for (auto& session : mCore.OpenSessions()) session->Shutdown(true);
    gone = mCore.WaitForSessions(std::chrono::seconds(1));
  }
  mWork.reset();
  if (!gone) mIo->stop();  // what is left is destroyed with the context below
  for (auto& thread : mIoThreads) thread.join();
  mIoThreads.clear();
  mPool->join();
  // Requests still waiting for room go with their sessions, while the I/O context is alive.
  mCore.SetPool(nullptr);
  mAcceptRetry.reset();
  mAcceptor.reset();
  mIo.reset();
  mPool.reset();
  mCore.Log().Flush();  // every request answered is in the file once Stop returns
}

void HttpServer::ReplaceTokens(std::shared_ptr<const TokenTable> tokens) {
  mImpl->ReplaceTokens(std::move(tokens));
}
bool HttpServer::Secure() const { return mImpl->Secure(); }

HttpServer::HttpServer(std::shared_ptr<RequestHandler> handler, HttpServerOptions options) {
  if (!handler) throw HttpServerError("the HTTP server needs a request handler");
  mImpl = std::make_unique<Impl>(std::move(handler), std::move(options));
}

HttpServer::~HttpServer() = default;

void HttpServer::Start() { mImpl->Start(); }
unsigned short HttpServer::Port() const { return mImpl->Port(); }
std::string HttpServer::Endpoint() const { return mImpl->Endpoint(); }
void HttpServer::Stop() { mImpl->Stop(); }

}  // namespace fm::server
