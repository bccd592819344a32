#include "HttpTestClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cctype>
#include <stdexcept>

namespace fm::server::testing {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

void SetReceiveTimeout(tcp::socket& socket, int seconds) {
  timeval tv{seconds, 0};
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

struct HttpTestClient::Impl {
  net::io_context io;
  tcp::socket socket{io};
  beast::flat_buffer buffer;
};

HttpTestClient::HttpTestClient(unsigned short port) : mImpl(std::make_unique<Impl>()) {
  beast::error_code ec;
  mImpl->socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), ec);
  if (ec) throw std::runtime_error("cannot connect: " + ec.message());
  SetReceiveTimeout(mImpl->socket, 10);
}

HttpTestClient::~HttpTestClient() {
  beast::error_code ignored;
  mImpl->socket.close(ignored);
}

HttpReply HttpTestClient::Request(const std::string& method, const std::string& target,
                                  const std::string& body, const std::string& token,
                                  const std::string& contentType) {
  http::request<http::string_body> request{http::string_to_verb(method), target, 11};
  request.set(http::field::host, "127.0.0.1");
  if (!token.empty()) request.set(http::field::authorization, "Bearer " + token);
  if ((method == "POST" || !body.empty()) && !contentType.empty()) {
    request.set(http::field::content_type, contentType);
  }
  request.body() = body;
  request.prepare_payload();
  beast::error_code ec;
  http::write(mImpl->socket, request, ec);
  if (ec) throw std::runtime_error("cannot send the request: " + ec.message());
  return ReadReply();
}

bool HttpTestClient::SendRaw(std::string_view bytes) {
  beast::error_code ec;
  net::write(mImpl->socket, net::buffer(bytes.data(), bytes.size()), ec);
  return !ec;
}

HttpReply HttpTestClient::ReadReply() {
  http::response_parser<http::string_body> parser;
  parser.body_limit(64 * 1024 * 1024);
  HttpReply reply;
  auto onChunk = [&](std::uint64_t size, beast::string_view, beast::error_code&) {
    if (size > 0) reply.chunkSizes.push_back(size);
  };
  parser.on_chunk_header(onChunk);
  beast::error_code ec;
  http::read(mImpl->socket, mImpl->buffer, parser, ec);
  if (ec) throw std::runtime_error("cannot read the answer: " + ec.message());
  auto& response = parser.get();
  reply.status = response.result_int();
  reply.body = response.body();
  reply.keepAlive = response.keep_alive();
  for (const auto& field : response) {
    std::string name(field.name_string());
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    reply.headers[name] = std::string(field.value());
  }
  return reply;
}

bool HttpTestClient::Readable(int milliseconds) {
  pollfd fd{mImpl->socket.native_handle(), POLLIN, 0};
  return mImpl->buffer.size() > 0 || poll(&fd, 1, milliseconds) > 0;
}

std::string HttpTestClient::ReadToEnd() {
  std::string bytes = beast::buffers_to_string(mImpl->buffer.data());
  mImpl->buffer.consume(mImpl->buffer.size());
  char block[4096];
  beast::error_code ec;
  while (!ec) bytes.append(block, mImpl->socket.read_some(net::buffer(block), ec));
  return bytes;
}

bool HttpTestClient::ClosedByServer() {
  if (mImpl->buffer.size() > 0) return false;
  char byte;
  beast::error_code ec;
  std::size_t n = mImpl->socket.read_some(net::buffer(&byte, 1), ec);
  if (n > 0) return false;
  return ec == net::error::eof || ec == net::error::connection_reset;
}

bool HttpTestClient::Accepting(unsigned short port) {
  net::io_context io;
  tcp::socket socket(io);
  beast::error_code ec;
  socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), ec);
  return !ec;
}

}  // namespace fm::server::testing
