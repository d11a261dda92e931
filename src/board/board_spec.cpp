// SPDX-License-Identifier: Apache-2.0

#include "board/board_spec.h"

#include "board/models/catalogue.h"
#include "jtag/parts.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>

namespace tavrin::board {

using nlohmann::json;

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view StripHexPrefix(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  return text;
}

}  // namespace

std::optional<Bits> BitsFromHex(std::string_view text, std::uint32_t length) {
  text = StripHexPrefix(text);
  if (text.empty()) return std::nullopt;
  Bits bits(length, false);
  std::size_t bit = 0;
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    const int v = HexValue(*it);
    if (v < 0) return std::nullopt;
    for (int j = 0; j < 4; ++j, ++bit) {
      if ((v & (1 << j)) == 0) continue;
      if (bit >= length) return std::nullopt;
      bits[bit] = true;
    }
  }
  return bits;
}

std::string HexFromBits(const Bits& bits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const std::size_t digits = (bits.size() + 3) / 4;
  std::string text(digits, '0');
  for (std::size_t d = 0; d < digits; ++d) {
    unsigned v = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const std::size_t i = d * 4 + j;
      if (i < bits.size() && bits[i]) v |= 1U << j;
    }
    text[digits - 1 - d] = kDigits[v];
  }
  return text;
}

namespace {

std::string Quote(std::string_view s) {
  // Names in messages: cut long ones and show control characters as '?'.
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size() && i < kMaxNameLength; ++i) {
    const char c = s[i];
    out += (c >= 0x20 && c < 0x7f) ? c : '?';
  }
  if (s.size() > kMaxNameLength) out += "...";
  out += '"';
  return out;
}

// The deepest nesting of arrays and objects, found before parsing so that a
// pathological file cannot make the parser or the value tree recurse deeply.
std::size_t NestingDepth(std::string_view text) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool in_string = false;
  bool escaped = false;
  for (const char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

class Reader {
 public:
  bool Fail(const std::string& where, const std::string& what) {
    if (error.empty()) error = where + ": " + what;
    return false;
  }

  // Only the listed keys (and "comment", a free text) may appear.
  bool OnlyKeys(const json& object, const std::string& where, std::initializer_list<const char*> keys) {
    for (const auto& item : object.items()) {
      const std::string& key = item.key();
      if (key == "comment") {
        if (!item.value().is_string()) return Fail(where + ".comment", "must be a text");
        continue;
      }
      if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; })) {
        std::string known;
        for (const char* k : keys) known += std::string(known.empty() ? "" : ", ") + k;
        return Fail(where, "unknown key " + Quote(key) + " (known: " + known + ", comment)");
      }
    }
    return true;
  }

  bool Name(const json& value, const std::string& where, std::string* out) {
    if (!value.is_string()) return Fail(where, "must be a text");
    const auto& s = value.get_ref<const std::string&>();
    if (s.empty() || s.size() > kMaxNameLength) {
      return Fail(where, "must have 1 to " + std::to_string(kMaxNameLength) + " characters");
    }
    for (const char c : s) {
      const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                      c == '-' || c == '.';
      if (!ok) return Fail(where, Quote(s) + " may hold only letters, digits, '_', '-' and '.'");
    }
    *out = s;
    return true;
  }

  bool Unsigned(const json& value, const std::string& where, std::uint64_t lo, std::uint64_t hi, std::uint64_t* out) {
    const bool whole = value.is_number_unsigned() || (value.is_number_integer() && value.get<std::int64_t>() >= 0);
    if (!whole) {
      return Fail(where, "must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    const auto v = value.get<std::uint64_t>();
    if (v < lo || v > hi) {
      return Fail(where, std::to_string(v) + " is out of range " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    *out = v;
    return true;
  }

  // A value of `length` bits: hexadecimal text ("0x" optional) or, when it
  // fits 64 bits, a whole number.
  bool Value(const json& value, const std::string& where, std::uint32_t length, Bits* out) {
    if (value.is_number_unsigned() || (value.is_number_integer() && value.get<std::int64_t>() >= 0)) {
      const auto v = value.get<std::uint64_t>();
      Bits bits(length, false);
      for (unsigned i = 0; i < 64; ++i) {
        if (((v >> i) & 1U) == 0) continue;
        if (i >= length) return Fail(where, std::to_string(v) + " does not fit " + std::to_string(length) + " bits");
        bits[i] = true;
      }
      *out = std::move(bits);
      return true;
    }
    if (!value.is_string()) return Fail(where, "must be hexadecimal text such as \"0x1f\"");
    const auto& s = value.get_ref<const std::string&>();
    const std::string_view digits = StripHexPrefix(s);
    if (digits.empty() || std::any_of(digits.begin(), digits.end(), [](char c) { return HexValue(c) < 0; })) {
      return Fail(where, Quote(s) + " is no hexadecimal number");
    }
    auto bits = BitsFromHex(s, length);
    if (!bits) return Fail(where, Quote(s) + " does not fit " + std::to_string(length) + " bits");
    *out = std::move(*bits);
    return true;
  }

  bool Word(const json& value, const std::string& where, unsigned length, std::uint64_t* out) {
    Bits bits;
    if (!Value(value, where, length, &bits)) return false;
    std::uint64_t v = 0;
    for (unsigned i = 0; i < length; ++i) {
      if (bits[i]) v |= std::uint64_t{1} << i;
    }
    *out = v;
    return true;
  }

  bool Pin(const json& wiring, const char* key, const std::string& where, unsigned* out) {
    if (!wiring.contains(key)) return true;
    std::uint64_t v = 0;
    if (!Unsigned(wiring.at(key), where + "." + key, 0, 7, &v)) return false;
    *out = static_cast<unsigned>(v);
    return true;
  }

  bool ReadWiring(const json& w, Wiring* wiring) {
    const std::string where = "wiring";
    if (!w.is_object()) return Fail(where, "must be an object");
    if (!OnlyKeys(w, where, {"tck", "tms", "tdi", "tdo", "tck_pull"})) return false;
    if (!Pin(w, "tck", where, &wiring->tck) || !Pin(w, "tms", where, &wiring->tms) ||
        !Pin(w, "tdi", where, &wiring->tdi) || !Pin(w, "tdo", where, &wiring->tdo)) {
      return false;
    }
    if (w.contains("tck_pull")) {
      const json& p = w.at("tck_pull");
      if (p == "down") {
        wiring->tck_pull_down = true;
      } else if (p == "up") {
        wiring->tck_pull_down = false;
      } else {
        return Fail(where + ".tck_pull", "must be \"down\" or \"up\"");
      }
    }
    return true;
  }

  bool ReadRegister(const json& r, const std::string& where, RegisterSpec* reg, std::vector<std::string>* selected_by,
                    std::uint64_t* board_bits) {
    if (!r.is_object()) return Fail(where, "must be an object");
    if (!OnlyKeys(r, where, {"name", "length", "value", "capture", "instructions"})) return false;
    if (!r.contains("name")) return Fail(where, "needs a \"name\"");
    if (!Name(r.at("name"), where + ".name", &reg->name)) return false;
    if (reg->name == "BYPASS" || reg->name == "IDCODE") {
      return Fail(where + ".name", Quote(reg->name) + " is built in; give the device an \"idcode\" instead");
    }
    if (!r.contains("length")) return Fail(where, "needs a \"length\"");
    std::uint64_t length = 0;
    if (!Unsigned(r.at("length"), where + ".length", 1, kMaxRegisterBits, &length)) return false;
    reg->length = static_cast<std::uint32_t>(length);
    *board_bits += length;
    if (*board_bits > kMaxBoardRegisterBits) {
      return Fail(where + ".length", "the board's registers exceed " + std::to_string(kMaxBoardRegisterBits) +
                                         " bits in all");
    }
    reg->value.assign(reg->length, false);
    if (r.contains("value") && !Value(r.at("value"), where + ".value", reg->length, &reg->value)) return false;
    if (r.contains("capture")) {
      Bits capture;
      if (!Value(r.at("capture"), where + ".capture", reg->length, &capture)) return false;
      reg->capture = std::move(capture);
    }
    selected_by->clear();
    if (r.contains("instructions")) {
      const json& list = r.at("instructions");
      if (!list.is_array() || list.empty() || list.size() > kMaxInstructions) {
        return Fail(where + ".instructions", "must be a list of 1 to " + std::to_string(kMaxInstructions) +
                                                 " instruction names");
      }
      for (std::size_t i = 0; i < list.size(); ++i) {
        std::string name;
        if (!Name(list[i], where + ".instructions[" + std::to_string(i) + "]", &name)) return false;
        selected_by->push_back(std::move(name));
      }
    } else {
      selected_by->push_back(reg->name);
    }
    return true;
  }

  // A modelled part: {"part": "XC2C64A", "blank": true, "seed": 7,
  // "waits_us": {"erase": 100000}}; a "name" is optional.
  bool ReadModelledDevice(const json& d, const std::string& where, DeviceSpec* dev) {
    if (!OnlyKeys(d, where, {"name", "part", "blank", "seed", "waits_us"})) return false;
    ModelChoice choice;
    if (!d.at("part").is_string() || d.at("part").get_ref<const std::string&>().size() > kMaxNameLength) {
      return Fail(where + ".part", "must be the name of a modelled part (tavrin-play --list-parts)");
    }
    choice.part = d.at("part").get<std::string>();
    const jtag::KnownPart* part = jtag::PartNamed(choice.part);
    if (part == nullptr || !IsModelled(*part)) {
      return Fail(where + ".part", Quote(choice.part) + " is no modelled part (tavrin-play --list-parts)");
    }
    choice.part = part->name;
    if (d.contains("blank")) {
      if (!d.at("blank").is_boolean()) return Fail(where + ".blank", "must be true or false");
      choice.blank = d.at("blank").get<bool>();
    }
    if (d.contains("seed") && !Unsigned(d.at("seed"), where + ".seed", 0, ~std::uint64_t{0}, &choice.seed)) {
      return false;
    }
    if (d.contains("waits_us")) {
      const json& waits = d.at("waits_us");
      const auto names = WaitNames(choice.part);
      std::string known;
      for (const auto& n : names) known += (known.empty() ? "" : ", ") + n;
      if (!waits.is_object()) return Fail(where + ".waits_us", "must map operations (" + known + ") to microseconds");
      for (const auto& item : waits.items()) {
        if (std::find(names.begin(), names.end(), item.key()) == names.end()) {
          return Fail(where + ".waits_us", part->name + std::string(" has no operation ") + Quote(item.key()) +
                                               " (known: " + known + ")");
        }
        std::uint64_t us = 0;
        if (!Unsigned(item.value(), where + ".waits_us." + item.key(), 0, kMaxWaitUs, &us)) return false;
        choice.waits_us.emplace_back(item.key(), us);
      }
    }
    *dev = ModelledDevice(choice);
    if (d.contains("name") && !Name(d.at("name"), where + ".name", &dev->name)) return false;
    return true;
  }

  bool ReadDevice(const json& d, const std::string& where, DeviceSpec* dev, std::uint64_t* board_bits) {
    if (!d.is_object()) return Fail(where, "must be an object");
    if (d.contains("part")) return ReadModelledDevice(d, where, dev);
    if (!OnlyKeys(d, where, {"name", "ir_length", "ir_capture", "idcode", "instructions", "registers"})) return false;
    if (!d.contains("name")) return Fail(where, "needs a \"name\"");
    if (!Name(d.at("name"), where + ".name", &dev->name)) return false;
    if (!d.contains("ir_length")) return Fail(where, "needs an \"ir_length\"");
    std::uint64_t ir = 0;
    if (!Unsigned(d.at("ir_length"), where + ".ir_length", kMinIrLength, kMaxIrLength, &ir)) return false;
    dev->ir_length = static_cast<unsigned>(ir);
    const std::uint64_t all_ones = dev->ir_length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << dev->ir_length) - 1;

    dev->ir_capture = 0x01;
    if (d.contains("ir_capture")) {
      if (!Word(d.at("ir_capture"), where + ".ir_capture", dev->ir_length, &dev->ir_capture)) return false;
      if ((dev->ir_capture & 0x3U) != 0x1U) {
        return Fail(where + ".ir_capture", "the two lowest bits must be 01 (binary), as IEEE 1149.1 requires");
      }
    }
    if (d.contains("idcode")) {
      std::uint64_t id = 0;
      if (!Word(d.at("idcode"), where + ".idcode", 32, &id)) return false;
      if ((id & 1U) == 0) {
        return Fail(where + ".idcode", "an IDCODE has bit 0 set; model this value as a register with a \"capture\"");
      }
      dev->idcode = static_cast<std::uint32_t>(id);
    }

    if (d.contains("registers")) {
      const json& regs = d.at("registers");
      if (!regs.is_array() || regs.size() > kMaxRegisters) {
        return Fail(where + ".registers", "must be a list of at most " + std::to_string(kMaxRegisters) + " registers");
      }
      dev->registers.resize(regs.size());
      registers_selected_by_.assign(regs.size(), {});
      for (std::size_t i = 0; i < regs.size(); ++i) {
        const std::string rw = where + ".registers[" + std::to_string(i) + "]";
        if (!ReadRegister(regs[i], rw, &dev->registers[i], &registers_selected_by_[i], board_bits)) return false;
        for (std::size_t j = 0; j < i; ++j) {
          if (dev->registers[j].name == dev->registers[i].name) {
            return Fail(rw + ".name", Quote(dev->registers[i].name) + " is given twice");
          }
        }
      }
    } else {
      registers_selected_by_.clear();
    }

    if (d.contains("instructions")) {
      const json& ins = d.at("instructions");
      if (!ins.is_object() || ins.size() > kMaxInstructions) {
        return Fail(where + ".instructions", "must be an object of at most " + std::to_string(kMaxInstructions) +
                                                 " name: opcode entries");
      }
      std::map<std::uint64_t, std::string> owner;
      for (const auto& item : ins.items()) {
        const std::string iw = where + ".instructions." + item.key();
        InstructionSpec spec;
        if (!Name(json(item.key()), where + ".instructions", &spec.name)) return false;
        std::vector<const json*> codes;
        if (item.value().is_array()) {
          if (item.value().empty() || item.value().size() > kMaxOpcodesPerInstruction) {
            return Fail(iw, "must be one opcode or a list of 1 to " + std::to_string(kMaxOpcodesPerInstruction));
          }
          for (const auto& c : item.value()) codes.push_back(&c);
        } else {
          codes.push_back(&item.value());
        }
        for (const json* c : codes) {
          std::uint64_t op = 0;
          if (!Word(*c, iw, dev->ir_length, &op)) return false;
          if (op == all_ones && spec.name != "BYPASS") {
            return Fail(iw, "the all-ones opcode is always BYPASS");
          }
          if (auto it = owner.find(op); it != owner.end()) {
            return Fail(iw, "opcode " + HexOf(op) + " is already " + Quote(it->second));
          }
          owner[op] = spec.name;
          spec.opcodes.push_back(op);
        }
        if (spec.name == "BYPASS") {
          spec.target = kBypass;
        } else if (spec.name == "IDCODE") {
          if (!dev->idcode) return Fail(iw, "an IDCODE instruction needs the device's \"idcode\"");
          spec.target = kIdcode;
        } else {
          spec.target = -3;
          for (std::size_t r = 0; r < registers_selected_by_.size(); ++r) {
            const auto& names = registers_selected_by_[r];
            if (std::find(names.begin(), names.end(), spec.name) == names.end()) continue;
            if (spec.target != -3) {
              return Fail(iw, "is listed by two registers, " + Quote(dev->registers[static_cast<std::size_t>(spec.target)].name) +
                                  " and " + Quote(dev->registers[r].name));
            }
            spec.target = static_cast<int>(r);
          }
          if (spec.target == -3) {
            return Fail(iw, "selects no register: add a register listing it in \"instructions\" (or named " +
                                Quote(spec.name) + "), or leave it out, as unknown opcodes select BYPASS");
          }
        }
        dev->instructions.push_back(std::move(spec));
      }
    }
    // Every instruction a register names must exist.
    for (std::size_t r = 0; r < registers_selected_by_.size(); ++r) {
      for (const auto& name : registers_selected_by_[r]) {
        const bool found = std::any_of(dev->instructions.begin(), dev->instructions.end(),
                                       [&](const InstructionSpec& s) { return s.name == name; });
        if (!found) {
          return Fail(where + ".registers[" + std::to_string(r) + "]",
                      "is selected by " + Quote(name) + ", which is not in the device's \"instructions\"");
        }
      }
    }
    return true;
  }

  bool ReadBoard(const json& root, BoardSpec* board) {
    if (!root.is_object()) return Fail("board", "must be a JSON object");
    if (!OnlyKeys(root, "board", {"version", "wiring", "chain"})) return false;
    if (root.contains("version")) {
      std::uint64_t v = 0;
      if (!Unsigned(root.at("version"), "version", 1, 1, &v)) return false;
    }
    if (root.contains("wiring") && !ReadWiring(root.at("wiring"), &board->wiring)) return false;
    const Wiring& w = board->wiring;
    const std::pair<const char*, unsigned> pins[] = {{"tck", w.tck}, {"tms", w.tms}, {"tdi", w.tdi}, {"tdo", w.tdo}};
    for (std::size_t i = 0; i < 4; ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (pins[i].second == pins[j].second) {
          return Fail("wiring", std::string(pins[j].first) + " and " + pins[i].first + " are both on D" +
                                    std::to_string(pins[i].second));
        }
      }
    }
    if (!root.contains("chain")) return Fail("board", "needs a \"chain\" of devices");
    const json& chain = root.at("chain");
    if (!chain.is_array() || chain.empty() || chain.size() > kMaxDevices) {
      return Fail("chain", "must be a list of 1 to " + std::to_string(kMaxDevices) + " devices");
    }
    std::uint64_t board_bits = 0;
    board->chain.resize(chain.size());
    for (std::size_t i = 0; i < chain.size(); ++i) {
      const std::string where = "chain[" + std::to_string(i) + "]";
      if (!ReadDevice(chain[i], where, &board->chain[i], &board_bits)) return false;
      for (std::size_t j = 0; j < i; ++j) {
        if (board->chain[j].name == board->chain[i].name) {
          return Fail(where + ".name", Quote(board->chain[i].name) + " is given twice");
        }
      }
    }
    return true;
  }

  static std::string HexOf(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
  }

  std::string error;

 private:
  std::vector<std::vector<std::string>> registers_selected_by_;
};

constexpr std::string_view kDefaultBoardJson = R"json({
  "version": 1,
  "comment": "The built-in board: one small CPLD with IDCODE and USERCODE on the default pins.",
  "wiring": { "tck": 7, "tms": 1, "tdi": 5, "tdo": 6, "tck_pull": "down" },
  "chain": [
    {
      "name": "CPLD",
      "ir_length": 8,
      "idcode": "0xf6e5f093",
      "instructions": { "IDCODE": "0x01", "BYPASS": "0xFF", "USERCODE": "0xFD", "SCRATCH": "0x02" },
      "registers": [
        { "name": "USERCODE", "length": 32, "capture": "0x5441564e",
          "comment": "reads the programmed user code, whatever is shifted in" },
        { "name": "SCRATCH", "length": 16, "value": "0x0000",
          "comment": "reads back the last value written" }
      ]
    }
  ]
}
)json";

}  // namespace

BoardLoadResult ParseBoard(std::string_view json_text) {
  BoardLoadResult result;
  try {
    if (json_text.size() > kMaxBoardFileBytes) {
      result.error = "board description: larger than " + std::to_string(kMaxBoardFileBytes) + " bytes";
      return result;
    }
    if (NestingDepth(json_text) > kMaxJsonDepth) {
      result.error = "board description: nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
      return result;
    }
    json root;
    try {
      root = json::parse(json_text.begin(), json_text.end());
    } catch (const json::exception& e) {
      result.error = std::string("board description: not valid JSON: ") + e.what();
      return result;
    }
    Reader reader;
    BoardSpec board;
    if (!reader.ReadBoard(root, &board)) {
      result.error = "board description: " + reader.error;
      return result;
    }
    result.board = std::move(board);
  } catch (const std::exception& e) {
    result.board.reset();
    result.error = std::string("board description: ") + e.what();
  } catch (...) {
    result.board.reset();
    result.error = "board description: unreadable";
  }
  return result;
}

BoardLoadResult LoadBoardFile(const std::string& path) {
  BoardLoadResult result;
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      result.error = path + ": cannot be opened";
      return result;
    }
    std::string text;
    char buf[65536];
    while (in) {
      in.read(buf, sizeof buf);
      text.append(buf, static_cast<std::size_t>(in.gcount()));
      if (text.size() > kMaxBoardFileBytes) {
        result.error = path + ": larger than " + std::to_string(kMaxBoardFileBytes) + " bytes";
        return result;
      }
    }
    if (in.bad()) {
      result.error = path + ": cannot be read";
      return result;
    }
    result = ParseBoard(text);
    if (!result.board) result.error = path + ": " + result.error;
  } catch (...) {
    result.board.reset();
    result.error = path + ": cannot be read";
  }
  return result;
}

std::string_view DefaultBoardJson() { return kDefaultBoardJson; }

BoardSpec DefaultBoard() {
  // The text above is fixed and valid, which the tests check.
  auto result = ParseBoard(kDefaultBoardJson);
  return result.board ? std::move(*result.board) : BoardSpec{};
}

std::string ValidateBoard(const BoardSpec& board) {
  const Wiring& w = board.wiring;
  const unsigned pins[] = {w.tck, w.tms, w.tdi, w.tdo};
  for (std::size_t i = 0; i < 4; ++i) {
    if (pins[i] > 7) return "wiring: pins are 0 to 7";
    for (std::size_t j = 0; j < i; ++j) {
      if (pins[i] == pins[j]) return "wiring: two signals on one pin";
    }
  }
  if (board.chain.empty() || board.chain.size() > kMaxDevices) return "chain: 1 to 64 devices";
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < board.chain.size(); ++i) {
    const DeviceSpec& d = board.chain[i];
    const std::string where = "chain[" + std::to_string(i) + "]";
    if (d.model) {
      const jtag::KnownPart* part = jtag::PartNamed(d.model->part);
      if (part == nullptr || !IsModelled(*part)) return where + ": " + d.model->part + " is no modelled part";
      continue;
    }
    if (d.ir_length < kMinIrLength || d.ir_length > kMaxIrLength) return where + ": IR length 2 to 64";
    const std::uint64_t all_ones = d.ir_length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << d.ir_length) - 1;
    if ((d.ir_capture & ~all_ones) != 0 || (d.ir_capture & 3U) != 1U) return where + ": IR capture must end in 01";
    if (d.idcode && (*d.idcode & 1U) == 0) return where + ": IDCODE bit 0 must be 1";
    if (d.registers.size() > kMaxRegisters) return where + ": too many registers";
    if (d.instructions.size() > kMaxInstructions) return where + ": too many instructions";
    for (const auto& r : d.registers) {
      if (r.length == 0 || r.length > kMaxRegisterBits) return where + ": register length 1 to 1048576";
      if (r.value.size() != r.length || (r.capture && r.capture->size() != r.length)) {
        return where + ": register " + r.name + " values must have its length";
      }
      bits += r.length;
    }
    for (const auto& ins : d.instructions) {
      if (ins.target == kIdcode && !d.idcode) return where + ": IDCODE instruction without an IDCODE";
      if (ins.target != kBypass && ins.target != kIdcode &&
          (ins.target < 0 || static_cast<std::size_t>(ins.target) >= d.registers.size())) {
        return where + ": instruction " + ins.name + " selects no register";
      }
      for (const auto op : ins.opcodes) {
        if ((op & ~all_ones) != 0) return where + ": opcode wider than the IR";
      }
    }
  }
  if (bits > kMaxBoardRegisterBits) return "registers: too many bits in all";
  return {};
}

}  // namespace tavrin::board
