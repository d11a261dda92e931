// SPDX-License-Identifier: Apache-2.0

#include <array>

#include "adapter/adapter.h"
#include "common/numbers.h"

namespace tavrin::adapter {

std::string BadResultText(FtStatus status, std::string_view label) {
  std::string text = "Bad result: ";
  text.append(label);
  text.append(" returned 0x");
  text.append(HexUpper(status));
  return text;
}

void Adapter::ShowBadResult(FtStatus status, std::string_view label) {
  if (status == FT_OK) return;
  ++bad_results_;
  window_.ShowMessage(BadResultText(status, label));
}

void Adapter::cmd_Find_Click() {
  std::uint32_t count = 0;
  FtStatus status = chip_.FT_ListDevices(&count, FT_LIST_NUMBER_ONLY);
  if (status != FT_OK) {
    ShowBadResult(status, "FT_GetNumDevices");
    return;
  }
  if (count == 0) {
    window_.ShowMessage("No FTDI Devices Detected.\r\nPlease connect one..");
    return;
  }
  // One buffer for all queries, as large as the longest description the
  // library returns; the description ends at its first zero character.
  std::array<char, kDescriptionBufferSize> buffer{};
  bool found = false;
  FtStatus last = FT_OK;
  for (std::uint32_t index = 0; index < count; ++index) {
    last = chip_.FT_ListDevices(index, buffer.data(), buffer.size(), FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION);
    std::string description(buffer.data(), buffer.size());
    description.resize(description.find('\0') == std::string::npos ? buffer.size() : description.find('\0'));
    if (description.find("FT232R") != std::string::npos || description.find("FT232B") != std::string::npos) {
      found = true;
      window_.AddInterfaceEntry(' ' + std::to_string(index) + " - " + description);
    }
  }
  if (found) {
    window_.SelectInterfaceEntry(0);
  } else {
    ShowBadResult(last, "FT_ListDevices");
  }
}

std::string DescriptionOfEntry(const std::string& entry) {
  const std::size_t sep = entry.find(" - ");
  if (sep == std::string::npos) return entry;
  return entry.substr(sep + 3);
}

void Adapter::cmd_OpenInterface_Click() {
  if (window_.InterfaceEntryCount() == 0) {
    window_.ShowMessage("Find and choose interface first..");
    return;
  }
  Open(DescriptionOfEntry(window_.InterfaceText()), FT_OPEN_BY_DESCRIPTION);
}

void Adapter::OpenBySerialNumber(const std::string& serial) { Open(serial, FT_OPEN_BY_SERIAL_NUMBER); }

void Adapter::Open(const std::string& what, std::uint32_t flags) {
  last_description_ = what;
  FtHandle handle = DeviceHandle;
  const FtStatus status = chip_.FT_OpenEx(what, flags, &handle);
  if (status != FT_OK) {
    ShowBadResult(status, "FT_OpenEx");
    return;
  }
  DeviceHandle = handle;
  InterfaceOpen = kTrue;
  window_.SetDevStateColour(kColourGreen);
}

std::string Adapter::OpenedName() const {
  if (InterfaceOpen != kTrue) return {};
  std::string name = chip_.OpenedName(DeviceHandle);
  return name.empty() ? last_description_ : name;
}

void Adapter::cmd_CloseInterface_Click() {
  if (InterfaceOpen == kTrue) {
    const FtStatus status = chip_.FT_Close(DeviceHandle);
    close_failed_ = status != FT_OK;
    if (status != FT_OK) ShowBadResult(status, "FT_Close");
  }
  window_.SetDevStateColour(kColourRed);
  window_.SetIspStateColour(kColourRed);
  InterfaceOpen = kFalse;
  PortSetupValid = kFalse;
}

bool Adapter::SetUpIfNeeded() {
  if (InterfaceOpen != kTrue) {
    // A chip call that fails on the way ends it there: the run does not go
    // on with a list or a set-up the chip did not confirm.
    const std::uint64_t failures = bad_results_;
    cmd_Find_Click();
    if (bad_results_ == failures) cmd_OpenInterface_Click();
    if (bad_results_ == failures) cmd_FTSetup_Click();
    if (bad_results_ != failures) return false;
  }
  if (PortSetupValid == kTrue) return true;
  window_.ShowMessage(kMsgPortSetup);
  return false;
}

void Adapter::ShutdownInterface() {
  if (InterfaceOpen != kTrue) return;
  if (PortSetupValid == kTrue) {
    cmd_CloseInterface_Click();
  } else {
    window_.ShowMessage(kMsgPortSetup);
  }
}

}  // namespace tavrin::adapter
