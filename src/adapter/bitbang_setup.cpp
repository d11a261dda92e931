// SPDX-License-Identifier: Apache-2.0

#include "adapter/adapter.h"
#include "common/numbers.h"

namespace tavrin::adapter {

namespace {

std::uint8_t MaskOfIndex(int index) {
  if (index < 0 || index > 7) return 0;
  return static_cast<std::uint8_t>(1U << static_cast<unsigned>(index));
}

}  // namespace

PinMasks Adapter::Pins() const {
  PinMasks p;
  p.tck = MaskOfIndex(window_.PinListIndex(Signal::TCK));
  p.tms = MaskOfIndex(window_.PinListIndex(Signal::TMS));
  p.tdi = MaskOfIndex(window_.PinListIndex(Signal::TDI));
  p.tdo = MaskOfIndex(window_.PinListIndex(Signal::TDO));
  return p;
}

std::uint8_t Adapter::DirectionMask() const {
  const PinMasks p = Pins();
  std::uint8_t mask = 0;
  mask |= p.tms;
  mask |= p.tdi;
  mask |= p.tck;
  return mask;
}

void Adapter::txt_Baud_Change() {
  PortSetupValid = kFalse;
  window_.SetMaxClkValue(0);
}

void Adapter::cmd_FTSetup_Click() {
  if (InterfaceOpen != kTrue) {
    window_.ShowMessage(kMsgOpenFirst);
    return;
  }
  // The rate is read before the chip is touched, so a value that no 32-bit
  // register can hold stops the set-up with the chip as it was.
  std::int32_t rate = 0;
  const bool max_clk = window_.MaxClkValue() != 0;
  if (!max_clk) {
    const auto parsed = RoundToInt32(ParseNumber(window_.BaudText()));
    if (!parsed) {
      window_.ShowMessage("Baud Register value out of range: " + window_.BaudText());
      return;
    }
    rate = *parsed;
  }

  std::uint32_t waiting = 0;
  FtStatus status = chip_.FT_GetQueueStatus(DeviceHandle, &waiting);
  if (status != FT_OK) return ShowBadResult(status, "FT_GetQueueStatus - pre clear");
  status = chip_.FT_SetUSBParameters(DeviceHandle, 128, 0);
  if (status != FT_OK) return ShowBadResult(status, "FT_SetUSBParameters");
  // The chip's own default. The player's blocks end on whole packets of
  // answers, which never wait for the timer; it only decides when the chip
  // sends a status packet after a pause, and a longer one means fewer
  // pauses after which a block's first answer would come alone.
  status = chip_.FT_SetLatencyTimer(DeviceHandle, kLatencyTimerMs);
  if (status != FT_OK) return ShowBadResult(status, "FT_SetLatencyTimer");
  status = chip_.FT_SetBitMode(DeviceHandle, 0, FT_BITMODE_RESET);
  if (status != FT_OK) return ShowBadResult(status, "FT_SetBitMode-Reset");
  status = chip_.FT_SetBitMode(DeviceHandle, DirectionMask(), FT_BITMODE_SYNC_BITBANG);
  if (status != FT_OK) return ShowBadResult(status, "FT_SetBitMode-BB Mode");
  if (!max_clk) {
    status = chip_.FT_SetBaudRate(DeviceHandle, static_cast<std::uint32_t>(rate));
  } else {
    status = chip_.FT_SetDivisor(DeviceHandle, 0);
  }
  if (status != FT_OK) return ShowBadResult(status, "FT_SetBaudRate");
  const std::uint8_t pins = 0x00;
  std::uint32_t written = 0;
  status = chip_.FT_Write(DeviceHandle, &pins, 1, &written);
  if (status != FT_OK) return ShowBadResult(status, "FT_Write - default pin states");

  PortSetupValid = kTrue;
  window_.SetIspStateColour(kColourBlue);
}

}  // namespace tavrin::adapter
