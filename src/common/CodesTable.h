#pragma once

#include <string>

namespace fm {

// One entry of the code table RVO_CODE, addressed by table identifier and code: the
// component's public class for its clients. It keeps nothing and looks nothing up: the
// identifier and code are accepted, and both texts answer empty.
class CodesTable {
 public:
  void SetId(const std::string& id);
  void SetCode(const std::string& code);
  std::string Description() const;
  std::string AdditionalInformation() const;
};

}  // namespace fm
