#pragma once

#include <string>

namespace fm {

// The texts taken from the host window when the document is first shown: its caption,
// which titles every message box of the document and its dialogs, and its tag, which the
// toolbar set-up passes to the host.
const std::string& MessageTitle();
const std::string& HostTag();
void SetMessageTitle(std::string title);
void SetHostTag(std::string tag);

}  // namespace fm
