#pragma once

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "server/handler/RequestHandler.h"
#include "server/http/HttpServer.h"
#include "server/http/TokenFile.h"
#include "server/store/Store.h"
#include "transport/EmbeddedTransport.h"
#include "transport/HttpTransport.h"

namespace fm::testing {

// The two ways the desktop reaches an inventory: the server's request handler in-process
// (embedded) and HTTP to the server's real front.
enum class Carrier { Embedded, Http };

inline std::string CarrierName(const ::testing::TestParamInfo<Carrier>& info) {
  return info.param == Carrier::Embedded ? "Embedded" : "Http";
}

// One inventory served to several clerks over one carrier: an embedded transport per clerk
// over the inventory file, or one HTTP server over `store` with a token per clerk. The first
// clerk's HTTP transport reads its token from a file, as the desktop does; the others carry
// theirs.
class ServedInventory {
 public:
  ServedInventory(Carrier carrier, std::shared_ptr<server::Store> store,
                  const std::filesystem::path& inventoryFile, const std::filesystem::path& folder,
                  const std::vector<server::Principal>& clerks) {
    if (carrier == Carrier::Embedded) {
      for (const auto& clerk : clerks) {
        EmbeddedTransport::Options options;
        options.inventoryFile = inventoryFile;
        options.user = clerk;
        mTransports.push_back(std::make_shared<EmbeddedTransport>(options));
      }
      return;
    }
    server::HttpServerOptions options;
    std::vector<std::pair<std::string, server::Principal>> tokens;
    for (std::size_t i = 0; i < clerks.size(); ++i) {
      tokens.emplace_back(fmt::format("served-inventory-token-{}", i), clerks[i]);
    }
    options.tokens = server::TokenTable::FromTokens(tokens);
    options.accessLog = folder / "access.log";
    options.threads = 2;
    mHttp = std::make_unique<server::HttpServer>(
        std::make_shared<server::RequestHandler>(std::move(store)), options);
    mHttp->Start();
    HttpTransport::Options client;
    client.address = fmt::format("http://127.0.0.1:{}", mHttp->Port());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      if (i == 0) {
        client.tokenFile = folder / "token";
        std::ofstream(client.tokenFile) << tokens[i].first << "\n";
      } else {
        client.tokenFile.clear();
        client.token = tokens[i].first;
      }
      mTransports.push_back(std::make_shared<HttpTransport>(client));
    }
  }

  ~ServedInventory() {
    mTransports.clear();
    if (mHttp) mHttp->Stop();
  }

  ServedInventory(const ServedInventory&) = delete;
  ServedInventory& operator=(const ServedInventory&) = delete;

  // The transport of clerk `index`, in the order given.
  std::shared_ptr<MessageTransport> Transport(std::size_t index) const {
    return mTransports.at(index);
  }

 private:
  std::unique_ptr<server::HttpServer> mHttp;
  std::vector<std::shared_ptr<MessageTransport>> mTransports;
};

}  // namespace fm::testing
