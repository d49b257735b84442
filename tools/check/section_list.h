// The lines the program's section list takes for names, and what it makes of
// them: the names the dialog offers, in order.
#pragma once

#include <string>
#include <vector>

#include "tools/check/pieces.h"

namespace check {

class SectionList {
  public:
    void Feed(const Piece& piece);
    const std::vector<std::u16string>& Offered() const { return offered_; }
    Findings findings;

  private:
    std::vector<std::u16string> offered_;
    int listed_ = 0;
};

}  // namespace check
