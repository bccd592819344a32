#include "qt/reassignment/TrooperChooser.h"

#include <fmt/format.h>

#include <QInputDialog>
#include <QStringList>

#include "qt/render/QtText.h"

namespace fm::qt {

std::optional<std::int64_t> ChooseTrooper(
    QWidget* parent, const shell::TrooperReassignment::Trooper& from,
    const std::vector<shell::TrooperReassignment::Trooper>& to) {
  QStringList names;
  for (const auto& t : to) names << ToQString(fmt::format("{} ({})", t.name, t.registry));
  bool chosen = false;
  const QString name = QInputDialog::getItem(
      parent, QString::fromUtf8(shell::TrooperReassignment::kTitle),
      ToQString(fmt::format("Reassign all ranges of {} ({}) to:", from.name, from.registry)), names,
      0, false, &chosen);
  if (!chosen) return std::nullopt;
  const auto at = names.indexOf(name);
  if (at < 0) return std::nullopt;
  return to[static_cast<std::size_t>(at)].registry;
}

}  // namespace fm::qt
