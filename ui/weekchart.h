#pragma once

#include "core/usagereport.h"

#include <QVariantList>

#include <vector>

namespace loomwatch::ui {

// The Costs view's bars for `days` (oldest first), one map per day:
// - weekday ("Tue") and date ("Dec 1") to label the bar;
// - total, the day's spend formatted as money ("$0.00" for a day without any);
// - segments, one map per tool that spent that day, in tool order: tool (raw value), name, amount, share
//   (of the largest day's total, so a bar's segments add up to its share) and below, the shares of the tools
//   before it (where it starts, stacked from the bottom);
// - accessibleName: "Tuesday, December 1: $4.12, Claude Code $3.00, Codex $1.12".
QVariantList weekChart(const std::vector<core::DayCost>& days);

} // namespace loomwatch::ui
