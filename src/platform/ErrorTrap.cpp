#include "platform/ErrorTrap.h"

#include <cstdio>
#include <exception>
#include <string>

#include "platform/ErrorReporter.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"

namespace fm {

void ReportCurrentException(std::string_view source) noexcept {
  // Rethrowing with nothing in flight would terminate the program.
  if (!std::current_exception()) {
    return;
  }
  std::string description;
  try {
    try {
      throw;
    } catch (const PlatformError& e) {
      if (e.Number() == kEarlyExitNumber) {
        return;
      }
      description = e.Description();
    } catch (const std::exception& e) {
      description = e.what();
    } catch (...) {
      description = "Unknown error";
    }
    Services::Errors().Report(description, Services::ExecutableName(), std::string(source),
                              std::nullopt, 1);
  } catch (...) {
    // The reporter itself failed (no memory, a broken log): the trap must still end the
    // procedure quietly, so the last word goes straight to standard error.
    std::fprintf(stderr, "%.*s: %s (the error reporter failed)\n", static_cast<int>(source.size()),
                 source.data(), description.c_str());
  }
}

}  // namespace fm
