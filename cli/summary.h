// SPDX-License-Identifier: Apache-2.0

#pragma once
// The summary line is shared with the window: see player/verdict.h.
#include "player/verdict.h"

namespace tavrin::cli {

using player::DescribeFailedCheck;
using player::kShownDigits;
using player::ReasonFromText;
using player::ReasonOfFailure;
using player::RunFacts;
using player::SummaryLine;

}  // namespace tavrin::cli
