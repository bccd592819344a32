#pragma once

#include <chrono>
#include <string>

namespace fm {

// The stamp every stored comment ends with: two blanks, "(", the current user's display
// name, a blank, the date and time in the general date-and-time form ("12/05/2026
// 09:15:02 AM"), and ")". The user is the site settings' user id, named through the
// common utility.
std::string CommentStamp(std::chrono::system_clock::time_point now);

}  // namespace fm
