#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "server/handler/Principal.h"
#include "transport/MessageTransport.h"

namespace fm {

namespace server {
class RequestHandler;
class Store;
}  // namespace server

// The forms server's own request handler running inside this process over a local SQLite
// inventory file, so the screen works with no server. The file is opened on the first
// exchange (on the caller's thread, the component's worker); a file that does not exist yet
// is created with the demo inventory of the region. It is built under a temporary name and
// renamed into place only when complete, so an interrupted first start leaves no half-made
// inventory behind.
//
// Thread-safe: the handler and store may serve several threads at once.
class EmbeddedTransport final : public MessageTransport {
 public:
  struct Options {
    std::filesystem::path inventoryFile;
    // The region whose reference data (stations, officers) a new inventory receives; the
    // local database's region.
    std::string region = "NORTH";
    // Today's date ("YYYY-MM-DD") for the officers on duty; empty: the system clock.
    std::function<std::string()> today;
    // Who every request acts for: the workstation's user (the site settings' user id and the
    // display name its comment stamps show), an admin, since the workstation owns its
    // embedded inventory. Recorded as the author of every change.
    server::Principal user = server::Principal::LocalAdministrator(0, "");
  };

  explicit EmbeddedTransport(Options options);
  ~EmbeddedTransport() override;

  // The handler's reply (a refused request is a reply with ok = false). Throws PlatformError
  // when the inventory cannot be opened or created; the next exchange tries again.
  protocol::Reply Exchange(const protocol::Request& request) override;

  // Opens the inventory now (creating it when missing) rather than on the first exchange,
  // and answers its store. Throws PlatformError as Exchange does.
  server::Store& Open();

  const std::filesystem::path& InventoryFile() const { return mOptions.inventoryFile; }

 private:
  const Options mOptions;
  std::mutex mMutex;  // guards opening; the handler is thread-safe once made
  std::shared_ptr<server::Store> mStore;
  std::shared_ptr<server::RequestHandler> mHandler;
};

}  // namespace fm
