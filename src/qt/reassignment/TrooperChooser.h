#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "shell/TrooperReassignment.h"

class QWidget;

namespace fm::qt {

// The clerk picks the trooper who takes the ranges of `from` from a list of `candidates`
// (name and registry number) over `parent`; none when the clerk cancels.
std::optional<std::int64_t> ChooseTrooper(
    QWidget* parent, const shell::TrooperReassignment::Trooper& from,
    const std::vector<shell::TrooperReassignment::Trooper>& to);

}  // namespace fm::qt
