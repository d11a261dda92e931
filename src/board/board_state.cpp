// SPDX-License-Identifier: Apache-2.0

#include "board/board_state.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

#include "board/models/catalogue.h"

namespace tavrin::board {

namespace {

using json = nlohmann::json;

constexpr const char* kFormat = "tavrin board state";
constexpr int kVersion = 1;

}  // namespace

std::string BoardStateText(const TapChain& chain) {
  json parts = json::array();
  for (std::size_t i = 0; i < chain.Size(); ++i) {
    const DeviceModel* m = chain.Device(i).Model();
    if (m == nullptr) continue;
    parts.push_back({{"device", i}, {"part", chain.Device(i).Spec().model->part}, {"flash", m->SaveState()}});
  }
  return json{{"format", kFormat}, {"version", kVersion}, {"parts", parts}}.dump(1) + "\n";
}

std::string TakeBoardState(TapChain& chain, const std::string& text) {
  const json doc = json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return "is not a board state (no JSON object)";
  if (!doc.contains("format") || doc.at("format") != kFormat) return "is not a board state (no \"format\": \"" + std::string(kFormat) + "\")";
  if (!doc.contains("version") || !doc.at("version").is_number_integer() || doc.at("version") != kVersion) {
    return "has a version this program does not read (it reads version " + std::to_string(kVersion) + ")";
  }
  if (!doc.contains("parts") || !doc.at("parts").is_array()) return "has no list of \"parts\"";
  const json& parts = doc.at("parts");
  std::vector<std::size_t> modelled;
  for (std::size_t i = 0; i < chain.Size(); ++i) {
    if (chain.Device(i).Model() != nullptr) modelled.push_back(i);
  }
  if (parts.size() != modelled.size()) {
    return "holds " + std::to_string(parts.size()) + " parts where the board has " + std::to_string(modelled.size());
  }
  // Everything is checked on copies first, so that a damaged file changes nothing.
  std::vector<std::string> flashes;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const json& p = parts[k];
    const std::size_t i = modelled[k];
    const std::string where = "part " + std::to_string(k + 1);
    if (!p.is_object() || !p.contains("part") || !p.at("part").is_string() || !p.contains("flash") ||
        !p.at("flash").is_string() || !p.contains("device") || !p.at("device").is_number_unsigned()) {
      return where + " is not {\"device\", \"part\", \"flash\"}";
    }
    const std::string& name = chain.Device(i).Spec().model->part;
    if (p.at("part") != name || p.at("device") != i) {
      std::string e = where + " is a " + p.at("part").get<std::string>();
      e += " at device " + p.at("device").dump();
      e += ", but the board has a " + name + " at device " + std::to_string(i);
      return e;
    }
    flashes.push_back(p.at("flash").get<std::string>());
  }
  for (std::size_t k = 0; k < flashes.size(); ++k) {
    // Tried on a fresh copy of the part first.
    auto probe = MakeModel(*chain.Device(modelled[k]).Spec().model);
    if (!probe) return "part " + std::to_string(k + 1) + " cannot be modelled";
    if (std::string e = probe->RestoreState(flashes[k]); !e.empty()) {
      return "part " + std::to_string(k + 1) + " (" + chain.Device(modelled[k]).Spec().model->part + "): " + e;
    }
  }
  for (std::size_t k = 0; k < flashes.size(); ++k) {
    (void)chain.Device(modelled[k]).Model()->RestoreState(flashes[k]);
  }
  return {};
}

std::string LoadBoardState(TapChain& chain, const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return "board state " + path + ": cannot be read (" + ec.message() + ")";
  if (size > kMaxStateFileBytes) {
    return "board state " + path + ": " + std::to_string(size) + " bytes, more than a board state can be (" +
           std::to_string(kMaxStateFileBytes) + ")";
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return "board state " + path + ": cannot be read";
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (std::string e = TakeBoardState(chain, text); !e.empty()) {
    return "board state " + path + " " + e + "; remove it to start from the parts as chosen";
  }
  return {};
}

std::string SaveBoardState(const TapChain& chain, const std::string& path) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << BoardStateText(chain);
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return "board state " + path + ": cannot be written";
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return "board state " + path + ": cannot be written (" + ec.message() + ")";
  }
  return {};
}

Rehearsed EndRehearsal(TapChain& chain) {
  chain.EndRun();
  Rehearsed r;
  for (std::size_t i = 0; i < chain.Size(); ++i) {
    DeviceModel* m = chain.Device(i).Model();
    if (m == nullptr) continue;
    for (auto& l : m->Report()) r.report.push_back(std::move(l));
    r.refusals += m->Refusals();
    m->NewAccount();
  }
  return r;
}

}  // namespace tavrin::board
