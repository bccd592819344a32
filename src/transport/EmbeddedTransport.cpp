#include "transport/EmbeddedTransport.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <system_error>

#include "platform/PlatformError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/DemoInventory.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm {

namespace {

namespace fs = std::filesystem;

fs::path WithSuffix(const fs::path& file, const char* suffix) {
  fs::path out = file;
  out += suffix;
  return out;
}

void RemoveDatabaseFiles(const fs::path& file) {
  std::error_code ignored;  // a file that is not there is what we want
  fs::remove(file, ignored);
  fs::remove(WithSuffix(file, "-wal"), ignored);
  fs::remove(WithSuffix(file, "-shm"), ignored);
}

bool NeedsCreating(const fs::path& file) {
  std::error_code ec;
  if (!fs::exists(file, ec)) return true;
  // SQLite leaves a zero-length file when it is opened and closed without a write; nothing
  // in it is worth keeping.
  return fs::is_regular_file(file, ec) && fs::file_size(file, ec) == 0 && !ec;
}

server::StoreOptions StoreOptionsFor(const std::string& region) {
  server::StoreOptions options;
  options.region = region;
  // One screen sends one request at a time; a couple of connections is plenty.
  options.poolSize = 2;
  return options;
}

// Builds the demo inventory under a temporary name and renames it into place once it is
// complete: a first start that is interrupted must not leave an inventory without forms
// that the next start would take as the clerk's real one.
void CreateDemoInventory(const fs::path& file, const std::string& region) {
  std::error_code ec;
  if (file.has_parent_path()) {
    fs::create_directories(file.parent_path(), ec);
    if (ec) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("The folder {} for the local forms inventory could not be "
                                      "created: {}",
                                      file.parent_path().string(), ec.message()));
    }
  }
  const fs::path building = WithSuffix(file, ".creating");
  RemoveDatabaseFiles(building);
  try {
    auto store = server::OpenStore("sqlite:" + building.string(), StoreOptionsFor(region));
    const std::size_t count = server::LoadDemoInventory(*store);
    store.reset();  // closes every connection, which folds the write-ahead log into the file
    spdlog::info("Created the local forms inventory {} with {} demo ranges", file.string(), count);
  } catch (...) {
    RemoveDatabaseFiles(building);
    throw;
  }
  RemoveDatabaseFiles(file);  // a zero-length leftover
  fs::rename(building, file, ec);
  if (!ec && fs::exists(WithSuffix(building, "-wal"))) {
    fs::rename(WithSuffix(building, "-wal"), WithSuffix(file, "-wal"), ec);
  }
  fs::remove(WithSuffix(building, "-shm"), ec);
  if (ec) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("The local forms inventory {} could not be put in place: {}",
                                    file.string(), ec.message()));
  }
}

}  // namespace

EmbeddedTransport::EmbeddedTransport(Options options) : mOptions(std::move(options)) {
  if (mOptions.inventoryFile.empty()) {
    throw PlatformError(PlatformError::kGeneric,
                        "No file is set for the local forms inventory (setting inventory_db)");
  }
}

EmbeddedTransport::~EmbeddedTransport() = default;

server::Store& EmbeddedTransport::Open() {
  std::lock_guard lock(mMutex);
  if (mStore) return *mStore;
  const fs::path& file = mOptions.inventoryFile;
  try {
    if (NeedsCreating(file)) CreateDemoInventory(file, mOptions.region);
    auto store = server::OpenStore("sqlite:" + file.string(), StoreOptionsFor(mOptions.region));
    server::RequestHandlerOptions handlerOptions;
    handlerOptions.today = mOptions.today;
    mHandler = std::make_shared<server::RequestHandler>(store, handlerOptions);
    mStore = std::move(store);
  } catch (const PlatformError&) {
    throw;
  } catch (const std::exception& error) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("The local forms inventory {} could not be opened: {}",
                                    file.string(), error.what()));
  }
  return *mStore;
}

protocol::Reply EmbeddedTransport::Exchange(const protocol::Request& request) {
  Open();
  // The handler never throws: whatever goes wrong inside it is a refused reply.
  return mHandler->Handle(request, mOptions.user).reply;
}

}  // namespace fm
