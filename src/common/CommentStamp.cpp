#include "common/CommentStamp.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "platform/CommonUtility.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"

namespace fm {

std::string CommentStamp(std::chrono::system_clock::time_point now) {
  const std::tm local = fmt::localtime(std::chrono::system_clock::to_time_t(now));
  const auto userId = static_cast<std::int32_t>(Services::Settings().UserId());
  const std::string userName = Services::Utility().UserName(userId, false);
  return fmt::format("  ({} {:%m/%d/%Y %I:%M:%S %p})", userName, local);
}

}  // namespace fm
