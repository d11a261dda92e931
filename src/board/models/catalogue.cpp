// SPDX-License-Identifier: Apache-2.0

#include "board/models/catalogue.h"

#include <cstring>

#include "board/models/families.h"

namespace tavrin::board {

namespace {

const FamilyModel kFamilies[] = {
    {"CoolRunner-II", MakeCoolRunner2, CoolRunner2Waits},
    {"MAX II", MakeMaxII, MaxIIWaits},
    {"MAX V", MakeMaxII, MaxIIWaits},
    {"ATF15xxAS", MakeAtf15xx, Atf15xxWaits},
    {"ispMACH 4000", MakeIspMach4000, IspMach4000Waits},
    {"MachXO2", MakeMachXo2, MachXo2Waits},
    {"Cyclone 10 LP", MakeCyclone10Lp, Cyclone10LpWaits},
    {"Spartan-6", MakeSpartan6, Spartan6Waits},
    {"XC9500XL", MakeXc9500Xl, Xc9500XlWaits},
    {"ispMACH 4A", MakeIspMach4A, IspMach4AWaits},
};

const FamilyModel* FamilyOf(const jtag::KnownPart& part) {
  for (const FamilyModel& f : kFamilies) {
    if (std::strcmp(f.family, part.family) == 0) return &f;
  }
  return nullptr;
}

}  // namespace

bool IsModelled(const jtag::KnownPart& part) { return FamilyOf(part) != nullptr; }

std::vector<const jtag::KnownPart*> ModelledParts() {
  std::vector<const jtag::KnownPart*> parts;
  for (const jtag::KnownPart& p : jtag::KnownParts()) {
    if (IsModelled(p)) parts.push_back(&p);
  }
  return parts;
}

std::unique_ptr<DeviceModel> MakeModel(const ModelChoice& choice) {
  const jtag::KnownPart* part = jtag::PartNamed(choice.part);
  const FamilyModel* family = part != nullptr ? FamilyOf(*part) : nullptr;
  if (family == nullptr) return nullptr;
  return family->make(*part, choice);
}

DeviceSpec ModelledDevice(const ModelChoice& choice) {
  DeviceSpec d;
  const jtag::KnownPart* part = jtag::PartNamed(choice.part);
  d.name = part != nullptr ? part->name : choice.part;
  if (part != nullptr) {
    d.ir_length = part->ir_bits;
    if (part->mask != 0) d.idcode = part->idcode;
  }
  d.model = choice;
  return d;
}

std::vector<std::string> WaitNames(std::string_view name) {
  const jtag::KnownPart* part = jtag::PartNamed(name);
  const FamilyModel* family = part != nullptr ? FamilyOf(*part) : nullptr;
  return family != nullptr ? family->waits() : std::vector<std::string>{};
}

}  // namespace tavrin::board
