// SPDX-License-Identifier: Apache-2.0

#include "common/memory_window.h"

namespace tavrin {

namespace {
std::size_t Slot(Signal s) { return static_cast<std::size_t>(s); }
}  // namespace

void MemoryWindow::AddPinEntry(Signal signal, const std::string& text) {
  pins[Slot(signal)].entries.push_back(text);
}

void MemoryWindow::SetPinListIndex(Signal signal, int index) { pins[Slot(signal)].index = index; }

int MemoryWindow::PinListIndex(Signal signal) const { return pins[Slot(signal)].index; }

void MemoryWindow::AddInterfaceEntry(const std::string& text) { interface_entries.push_back(text); }

int MemoryWindow::InterfaceEntryCount() const { return static_cast<int>(interface_entries.size()); }

void MemoryWindow::SelectInterfaceEntry(int index) {
  if (index < 0 || index >= InterfaceEntryCount()) return;
  interface_index = index;
  interface_text = interface_entries[static_cast<std::size_t>(index)];
}

void MemoryWindow::AppendLog(std::string_view text) {
  log.append(text);
  log.append("\r\n");
}

void MemoryWindow::AppendLogNoBreak(std::string_view text) { log.append(text); }

void MemoryWindow::ReplaceLog(std::string_view text) { log.assign(text); }

void MemoryWindow::ShowMessage(std::string_view text) {
  messages.emplace_back(text);
  if (on_message) on_message(text);
}

void MemoryWindow::ProcessPendingEvents() {
  ++events_processed;
  if (on_events) on_events();
}

std::vector<std::string> MemoryWindow::LogLines() const {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    const std::size_t end = log.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(log.substr(start));
      break;
    }
    lines.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace tavrin
