// SPDX-License-Identifier: Apache-2.0

#include "adapter/recording_d2xx.h"

#include <string>

#include "common/numbers.h"

namespace tavrin::adapter {

namespace {

std::string Hex(const std::uint8_t* data, std::uint32_t n) {
  std::string s;
  s.reserve(static_cast<std::size_t>(n) * 3);
  for (std::uint32_t i = 0; i < n; ++i) {
    if (i != 0) s.push_back(' ');
    s.push_back(HexDigitChar(data[i] >> 4U));
    s.push_back(HexDigitChar(data[i]));
  }
  return s;
}

std::string H(std::uint32_t v) { return "0x" + HexUpper(v); }

}  // namespace

FtStatus RecordingD2xx::Line(FtStatus status, const std::string& text) {
  out_ << text << " -> " << status << '\n';
  return status;
}

FtStatus RecordingD2xx::FT_ListDevices(std::uint32_t* count, std::uint32_t flags) {
  const FtStatus s = inner_.FT_ListDevices(count, flags);
  return Line(s, "FT_ListDevices(flags=" + H(flags) + ") count=" + (s == FT_OK ? std::to_string(*count) : "?"));
}

FtStatus RecordingD2xx::FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                                       std::uint32_t flags) {
  const FtStatus s = inner_.FT_ListDevices(index, buffer, buffer_size, flags);
  std::string text(buffer, buffer_size);
  text.resize(text.find('\0') == std::string::npos ? buffer_size : text.find('\0'));
  return Line(s, "FT_ListDevices(" + std::to_string(index) + ", flags=" + H(flags) + ") \"" +
                     (s == FT_OK ? text : std::string()) + "\"");
}

FtStatus RecordingD2xx::FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) {
  const FtStatus s = inner_.FT_OpenEx(arg, flags, handle);
  return Line(s, "FT_OpenEx(\"" + arg + "\", flags=" + std::to_string(flags) + ") handle=" +
                     (s == FT_OK ? H(*handle) : std::string("?")));
}

FtStatus RecordingD2xx::FT_Close(FtHandle handle) {
  return Line(inner_.FT_Close(handle), "FT_Close(" + H(handle) + ")");
}

FtStatus RecordingD2xx::FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) {
  const FtStatus s = inner_.FT_GetQueueStatus(handle, rx_bytes);
  return Line(s, "FT_GetQueueStatus(" + H(handle) + ") rx=" + (s == FT_OK ? std::to_string(*rx_bytes) : "?"));
}

FtStatus RecordingD2xx::WaitForQueue(FtHandle handle, std::uint32_t size, std::uint32_t timeout_ms,
                                     std::uint32_t* rx_bytes) {
  const FtStatus s = inner_.WaitForQueue(handle, size, timeout_ms, rx_bytes);
  if (s == FT_NOT_SUPPORTED) return s;
  return Line(s, "FT_GetQueueStatus(" + H(handle) + ") rx=" + (s == FT_OK ? std::to_string(*rx_bytes) : "?"));
}

FtStatus RecordingD2xx::FT_SetUSBParameters(FtHandle handle, std::uint32_t in_size, std::uint32_t out_size) {
  return Line(inner_.FT_SetUSBParameters(handle, in_size, out_size),
              "FT_SetUSBParameters(" + H(handle) + ", " + std::to_string(in_size) + ", " + std::to_string(out_size) + ")");
}

FtStatus RecordingD2xx::FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
  return Line(inner_.FT_SetLatencyTimer(handle, ms), "FT_SetLatencyTimer(" + H(handle) + ", " + std::to_string(ms) + ")");
}

FtStatus RecordingD2xx::FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) {
  return Line(inner_.FT_SetBitMode(handle, mask, mode),
              "FT_SetBitMode(" + H(handle) + ", mask=" + H(mask) + ", mode=" + std::to_string(mode) + ")");
}

FtStatus RecordingD2xx::FT_SetBaudRate(FtHandle handle, std::uint32_t rate) {
  return Line(inner_.FT_SetBaudRate(handle, rate), "FT_SetBaudRate(" + H(handle) + ", " + std::to_string(rate) + ")");
}

FtStatus RecordingD2xx::FT_SetDivisor(FtHandle handle, std::uint16_t divisor) {
  return Line(inner_.FT_SetDivisor(handle, divisor), "FT_SetDivisor(" + H(handle) + ", " + std::to_string(divisor) + ")");
}

FtStatus RecordingD2xx::FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                                 std::uint32_t* written) {
  const FtStatus s = inner_.FT_Write(handle, data, size, written);
  return Line(s, "FT_Write(" + H(handle) + ", " + std::to_string(size) + ") " + Hex(data, size));
}

FtStatus RecordingD2xx::FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) {
  const FtStatus s = inner_.FT_Read(handle, buffer, size, read);
  return Line(s, "FT_Read(" + H(handle) + ", " + std::to_string(size) + ") " + (s == FT_OK ? Hex(buffer, *read) : ""));
}

FtStatus RecordingD2xx::FT_GetBitMode(FtHandle handle, std::uint8_t* pins) {
  const FtStatus s = inner_.FT_GetBitMode(handle, pins);
  return Line(s, "FT_GetBitMode(" + H(handle) + ") pins=" + (s == FT_OK ? H(*pins) : "?"));
}

FtStatus RecordingD2xx::FT_Purge(FtHandle handle, std::uint32_t mask) {
  return Line(inner_.FT_Purge(handle, mask), "FT_Purge(" + H(handle) + ", " + std::to_string(mask) + ")");
}

}  // namespace tavrin::adapter
