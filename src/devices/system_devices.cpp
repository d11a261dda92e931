// SPDX-License-Identifier: Apache-2.0

#include "devices/system_devices.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include "adapter/device_list.h"
#include "adapter/recording_d2xx.h"
#include "board/board_state.h"
#include "board/virtual_d2xx.h"
#ifdef TAVRIN_HAVE_FTDI
#include "adapter/ftdi/ftdi_api.h"
#include "adapter/ftdi/ftdi_d2xx.h"
#endif

namespace tavrin::devices {

namespace {

std::string LocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[64];
  return std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) != 0 ? buf : "";
}

class Devices final : public SystemDevices {
 public:
  bool Build(const Options& options, std::string* error) {
    board::BoardSpec board = board::DefaultBoard();
    if (options.board) {
      board = *options.board;
    } else if (!options.board_file.empty()) {
      auto loaded = board::LoadBoardFile(options.board_file);
      if (!loaded.board) {
        *error = loaded.error;
        return false;
      }
      board = std::move(*loaded.board);
    }
    virtual_ = std::make_unique<board::VirtualD2xx>(std::move(board));
    if (!options.board_name.empty()) {
      virtual_->SetBoardName(options.board_name);
    } else if (!options.board_file.empty()) {
      virtual_->SetBoardName(std::filesystem::path(options.board_file).filename().string());
    }
    virtual_->SetClock(options.clock);
    state_file_ = options.board_state_file;
    if (!state_file_.empty()) {
      if (!virtual_->Chain().HasModels()) {
        *error = "--board-state keeps modelled parts' flash, but the board has no modelled part";
        return false;
      }
      if (std::string e = board::LoadBoardState(virtual_->Chain(), state_file_); !e.empty()) {
        *error = e;
        return false;
      }
    }
    if (!options.vcd_file.empty()) {
      vcd_.open(options.vcd_file, std::ios::binary | std::ios::trunc);
      if (!vcd_) {
        *error = "cannot write the waveform file " + options.vcd_file;
        return false;
      }
      board::VcdOptions vcd_options;
      vcd_options.date = LocalTime();
      virtual_->StartVcd(vcd_, vcd_options);
    }
    std::vector<adapter::D2xx*> backends;
#ifdef TAVRIN_HAVE_FTDI
    if (options.real_adapters) {
      ftdi_ = std::make_unique<adapter::FtdiD2xx>(adapter::ftdi::LibFtdiApi());
      backends.push_back(ftdi_.get());
    }
#endif
    backends.push_back(virtual_.get());
    list_ = std::make_unique<adapter::DeviceList>(std::move(backends));
    chip_ = list_.get();
    if (!options.trace_file.empty()) {
      trace_.open(options.trace_file, std::ios::binary | std::ios::trunc);
      if (!trace_) {
        *error = "cannot write the trace file " + options.trace_file;
        return false;
      }
      recording_ = std::make_unique<adapter::RecordingD2xx>(*list_, trace_);
      chip_ = recording_.get();
    }
    return true;
  }

  ~Devices() override {
    if (virtual_) virtual_->StopVcd();
  }

  adapter::D2xx& Chip() override { return *chip_; }

  std::string EndRehearsal(std::vector<std::string>* report, std::size_t* refusals) override {
    auto rehearsed = board::EndRehearsal(virtual_->Chain());
    *report = std::move(rehearsed.report);
    *refusals = rehearsed.refusals;
    if (state_file_.empty()) return {};
    return board::SaveBoardState(virtual_->Chain(), state_file_);
  }

 private:
  std::ofstream vcd_;
  std::ofstream trace_;
  std::string state_file_;
  std::unique_ptr<board::VirtualD2xx> virtual_;
#ifdef TAVRIN_HAVE_FTDI
  std::unique_ptr<adapter::D2xx> ftdi_;
#endif
  std::unique_ptr<adapter::DeviceList> list_;
  std::unique_ptr<adapter::RecordingD2xx> recording_;
  adapter::D2xx* chip_ = nullptr;
};

}  // namespace

bool RealAdaptersBuiltIn() {
#ifdef TAVRIN_HAVE_FTDI
  return true;
#else
  return false;
#endif
}

bool IsVirtualBoard(const std::string& description) { return description == board::kVirtualDescription; }

std::unique_ptr<SystemDevices> SystemDevices::Create(const Options& options, std::string* error) {
  auto devices = std::make_unique<Devices>();
  if (!devices->Build(options, error)) return nullptr;
  return devices;
}

}  // namespace tavrin::devices
