// SPDX-License-Identifier: Apache-2.0

#pragma once
// The modelled parts: the known-parts table names them; a family model
// makes them.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_spec.h"
#include "board/device_model.h"
#include "jtag/parts.h"

namespace tavrin::board {

// True when the virtual board can stand in for this part.
bool IsModelled(const jtag::KnownPart& part);
// The modelled parts, in table order.
std::vector<const jtag::KnownPart*> ModelledParts();
// The named part's model; nothing for a name that is no modelled part.
std::unique_ptr<DeviceModel> MakeModel(const ModelChoice& choice);
// A device description for the chain of a board holding this part.
DeviceSpec ModelledDevice(const ModelChoice& choice);
// The operation names whose waits a board file may change for the part
// ("erase", "program", ...); empty for a part that is not modelled.
std::vector<std::string> WaitNames(std::string_view part);

}  // namespace tavrin::board
