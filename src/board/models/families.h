// SPDX-License-Identifier: Apache-2.0

#pragma once
// One maker per modelled family. Each family's facts (opcodes, register
// lengths, addressing, status bits, operation times) sit in one table at the
// top of its file, so that an inferred fact is easy to change.
#include <memory>
#include <string>
#include <vector>

#include "board/board_spec.h"
#include "board/device_model.h"
#include "jtag/parts.h"

namespace tavrin::board {

using ModelMaker = std::unique_ptr<DeviceModel> (*)(const jtag::KnownPart& part, const ModelChoice& choice);

struct FamilyModel {
  const char* family;  // as the known-parts table names it
  ModelMaker make;
  std::vector<std::string> (*waits)();  // the operation names with a minimum wait
};

std::unique_ptr<DeviceModel> MakeCoolRunner2(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> CoolRunner2Waits();
std::unique_ptr<DeviceModel> MakeMaxII(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> MaxIIWaits();
std::unique_ptr<DeviceModel> MakeAtf15xx(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> Atf15xxWaits();
std::unique_ptr<DeviceModel> MakeIspMach4000(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> IspMach4000Waits();
std::unique_ptr<DeviceModel> MakeMachXo2(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> MachXo2Waits();
std::unique_ptr<DeviceModel> MakeCyclone10Lp(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> Cyclone10LpWaits();
std::unique_ptr<DeviceModel> MakeSpartan6(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> Spartan6Waits();
std::unique_ptr<DeviceModel> MakeXc9500Xl(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> Xc9500XlWaits();
std::unique_ptr<DeviceModel> MakeIspMach4A(const jtag::KnownPart& part, const ModelChoice& choice);
std::vector<std::string> IspMach4AWaits();

}  // namespace tavrin::board
