// SPDX-License-Identifier: Apache-2.0

#include "board/board_spec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tavrin::board {
namespace {

TEST(Hex, ReadsAndWritesBitZeroAsTheLastDigitsLowBit) {
  const auto bits = BitsFromHex("0x1d", 8);
  ASSERT_TRUE(bits);
  EXPECT_EQ(*bits, (Bits{true, false, true, true, true, false, false, false}));
  EXPECT_EQ(HexFromBits(*bits), "1d");
  EXPECT_EQ(HexFromBits(*BitsFromHex("F6E5F093", 32)), "f6e5f093");
  // A length that is no multiple of four has a short first digit.
  EXPECT_EQ(HexFromBits(*BitsFromHex("1ff", 9)), "1ff");
  // Leading zeros beyond the length are fine, set bits are not.
  EXPECT_TRUE(BitsFromHex("0000001", 1));
  EXPECT_FALSE(BitsFromHex("2", 1));
  EXPECT_FALSE(BitsFromHex("1g", 8));
  EXPECT_FALSE(BitsFromHex("0x", 8));
  EXPECT_FALSE(BitsFromHex("", 8));
}

TEST(DefaultBoard, IsTheSmallCpldOnTheDefaultPins) {
  const BoardSpec b = DefaultBoard();
  EXPECT_EQ(ValidateBoard(b), "");
  EXPECT_EQ(b.wiring.tck, 7U);
  EXPECT_EQ(b.wiring.tms, 1U);
  EXPECT_EQ(b.wiring.tdi, 5U);
  EXPECT_EQ(b.wiring.tdo, 6U);
  ASSERT_EQ(b.chain.size(), 1U);
  EXPECT_EQ(b.chain[0].ir_length, 8U);
  EXPECT_EQ(b.chain[0].idcode, 0xf6e5f093U);
  ASSERT_FALSE(b.chain[0].instructions.empty());
  EXPECT_EQ(b.chain[0].instructions[0].name, "BYPASS");  // the object's keys come sorted
}

TEST(DefaultBoard, ShippedExampleIsTheSameText) {
  std::ifstream in(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards/default.json", std::ios::binary);
  ASSERT_TRUE(in);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, std::string(DefaultBoardJson()));
}

TEST(ExampleBoards, AllLoadAndValidate) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(TAVRIN_SOURCE_DIR) + "/examples/boards")) {
    if (entry.path().extension() != ".json") continue;
    ++count;
    const auto r = LoadBoardFile(entry.path().string());
    ASSERT_TRUE(r.board) << r.error;
    EXPECT_EQ(ValidateBoard(*r.board), "") << entry.path();
  }
  EXPECT_GE(count, 3);
}

TEST(ParseBoard, MinimalDeviceGetsDefaultWiringAndCapture) {
  const auto r = ParseBoard(R"({"chain":[{"name":"d","ir_length":4}]})");
  ASSERT_TRUE(r.board) << r.error;
  EXPECT_EQ(r.board->wiring.tck, 7U);
  EXPECT_TRUE(r.board->wiring.tck_pull_down);
  EXPECT_EQ(r.board->chain[0].ir_capture, 1U);
  EXPECT_FALSE(r.board->chain[0].idcode);
}

TEST(ParseBoard, ReadsRegistersInstructionListsAndNumbers) {
  const auto r = ParseBoard(R"({"wiring":{"tck":0,"tms":1,"tdi":2,"tdo":3,"tck_pull":"up"},
    "chain":[{"name":"d","ir_length":4,"ir_capture":"0x5","idcode":"0x10000001",
      "instructions":{"IDCODE":1,"A":["0x2","0x3"],"B":"4"},
      "registers":[{"name":"R","length":12,"value":"0xabc","instructions":["A","B"]}]}]})");
  ASSERT_TRUE(r.board) << r.error;
  const DeviceSpec& d = r.board->chain[0];
  EXPECT_FALSE(r.board->wiring.tck_pull_down);
  EXPECT_EQ(d.ir_capture, 5U);
  ASSERT_EQ(d.instructions.size(), 3U);
  EXPECT_EQ(d.instructions[0].name, "A");
  EXPECT_EQ(d.instructions[0].opcodes, (std::vector<std::uint64_t>{2, 3}));
  EXPECT_EQ(d.instructions[0].target, 0);
  EXPECT_EQ(d.instructions[1].target, 0);
  EXPECT_EQ(d.instructions[2].target, kIdcode);
  EXPECT_EQ(HexFromBits(d.registers[0].value), "abc");
}

TEST(ParseBoard, SixtyFourBitInstructionRegister) {
  const auto r = ParseBoard(R"({"chain":[{"name":"d","ir_length":64,
      "instructions":{"BYPASS":"0xffffffffffffffff","R":"0x8000000000000000"},
      "registers":[{"name":"R","length":3}]}]})");
  ASSERT_TRUE(r.board) << r.error;
}

struct BadBoard {
  const char* label;
  std::string json;
  const char* error;  // a part of the message
};

void PrintTo(const BadBoard& b, std::ostream* os) { *os << b.label; }

class ParseBoardRejects : public ::testing::TestWithParam<BadBoard> {};

TEST_P(ParseBoardRejects, WithAMessageNamingThePlace) {
  const auto r = ParseBoard(GetParam().json);
  EXPECT_FALSE(r.board);
  EXPECT_NE(r.error.find(GetParam().error), std::string::npos) << r.error;
  EXPECT_EQ(r.error.rfind("board description: ", 0), 0U) << r.error;
}

const std::string kDev = R"("name":"d","ir_length":8)";
std::string Chain(const std::string& device) { return R"({"chain":[{)" + device + "}]}"; }

INSTANTIATE_TEST_SUITE_P(
    Table, ParseBoardRejects,
    ::testing::Values(
        BadBoard{"not json", "{", "not valid JSON"},
        BadBoard{"trailing garbage", Chain(kDev) + "x", "not valid JSON"},
        BadBoard{"empty text", "", "not valid JSON"},
        BadBoard{"not an object", "[1,2]", "board: must be a JSON object"},
        BadBoard{"no chain", "{}", "needs a \"chain\""},
        BadBoard{"empty chain", R"({"chain":[]})", "chain: must be a list of 1 to 64"},
        BadBoard{"chain not a list", R"({"chain":{}})", "chain: must be a list"},
        BadBoard{"unknown top key", R"({"chian":[]})", "unknown key \"chian\""},
        BadBoard{"version 2", R"({"version":2,"chain":[{"name":"d","ir_length":8}]})", "version: 2 is out of range"},
        BadBoard{"pin 8", R"({"wiring":{"tck":8},"chain":[{"name":"d","ir_length":8}]})", "wiring.tck: 8 is out of range"},
        BadBoard{"negative pin", R"({"wiring":{"tdo":-1},"chain":[{"name":"d","ir_length":8}]})", "wiring.tdo: must be a whole number"},
        BadBoard{"pin as text", R"({"wiring":{"tms":"1"},"chain":[{"name":"d","ir_length":8}]})", "wiring.tms: must be a whole number"},
        BadBoard{"two signals one pin", R"({"wiring":{"tdo":5},"chain":[{"name":"d","ir_length":8}]})", "tdi and tdo are both on D5"},
        BadBoard{"bad pull", R"({"wiring":{"tck_pull":"sideways"},"chain":[{"name":"d","ir_length":8}]})", "tck_pull: must be"},
        BadBoard{"device not object", R"({"chain":[3]})", "chain[0]: must be an object"},
        BadBoard{"no name", Chain(R"("ir_length":8)"), "chain[0]: needs a \"name\""},
        BadBoard{"empty name", Chain(R"("name":"","ir_length":8)"), "chain[0].name: must have 1 to 64"},
        BadBoard{"name with blank", Chain(R"("name":"a b","ir_length":8)"), "may hold only letters"},
        BadBoard{"long name", Chain(R"("name":")" + std::string(65, 'x') + R"(","ir_length":8)"), "1 to 64 characters"},
        BadBoard{"no ir length", Chain(R"("name":"d")"), "needs an \"ir_length\""},
        BadBoard{"ir length 1", Chain(R"("name":"d","ir_length":1)"), "ir_length: 1 is out of range 2 to 64"},
        BadBoard{"ir length 65", Chain(R"("name":"d","ir_length":65)"), "ir_length: 65 is out of range"},
        BadBoard{"ir length fraction", Chain(R"("name":"d","ir_length":8.5)"), "ir_length: must be a whole number"},
        BadBoard{"ir capture 11", Chain(kDev + R"(,"ir_capture":"0x03")"), "two lowest bits must be 01"},
        BadBoard{"ir capture too wide", Chain(kDev + R"(,"ir_capture":"0x101")"), "does not fit 8 bits"},
        BadBoard{"idcode not hex", Chain(kDev + R"(,"idcode":"0xfgh")"), "is no hexadecimal number"},
        BadBoard{"idcode 33 bits", Chain(kDev + R"(,"idcode":"0x1f6e5f093")"), "does not fit 32 bits"},
        BadBoard{"idcode bit 0 clear", Chain(kDev + R"(,"idcode":"0x00057620")"), "has bit 0 set"},
        BadBoard{"idcode instruction without idcode", Chain(kDev + R"(,"instructions":{"IDCODE":"0x01"})"), "needs the device's \"idcode\""},
        BadBoard{"opcode too wide", Chain(kDev + R"(,"instructions":{"BYPASS":"0x1FF"})"), "instructions.BYPASS: \"0x1FF\" does not fit 8 bits"},
        BadBoard{"all ones not bypass", Chain(kDev + R"(,"idcode":"0x1","instructions":{"IDCODE":"0xFF"})"), "always BYPASS"},
        BadBoard{"opcode twice", Chain(kDev + R"(,"idcode":"0x1","instructions":{"IDCODE":"0x01","BYPASS":["0x01"]})"), "is already"},
        BadBoard{"instruction without register", Chain(kDev + R"(,"instructions":{"EXTEST":"0x00"})"), "EXTEST: selects no register"},
        BadBoard{"empty opcode list", Chain(kDev + R"(,"instructions":{"BYPASS":[]})"), "must be one opcode or a list"},
        BadBoard{"bad instruction name", Chain(kDev + R"(,"instructions":{"A B":"0x00"})"), "may hold only letters"},
        BadBoard{"instructions a list", Chain(kDev + R"(,"instructions":["0x00"])"), "instructions: must be an object"},
        BadBoard{"register no length", Chain(kDev + R"(,"registers":[{"name":"R"}])"), "registers[0]: needs a \"length\""},
        BadBoard{"register length 0", Chain(kDev + R"(,"registers":[{"name":"R","length":0}])"), "length: 0 is out of range 1 to 1048576"},
        BadBoard{"register too long", Chain(kDev + R"(,"registers":[{"name":"R","length":1048577}])"), "is out of range"},
        BadBoard{"register called BYPASS", Chain(kDev + R"(,"registers":[{"name":"BYPASS","length":1}])"), "is built in"},
        BadBoard{"register value too wide", Chain(kDev + R"(,"instructions":{"R":"0x02"},"registers":[{"name":"R","length":4,"value":"0x10"}])"), "value: \"0x10\" does not fit 4 bits"},
        BadBoard{"register capture not text", Chain(kDev + R"(,"instructions":{"R":"0x02"},"registers":[{"name":"R","length":4,"capture":true}])"), "capture: must be hexadecimal"},
        BadBoard{"register without instruction", Chain(kDev + R"(,"registers":[{"name":"R","length":4}])"), "is selected by \"R\", which is not in"},
        BadBoard{"register twice", Chain(kDev + R"(,"instructions":{"R":"0x02"},"registers":[{"name":"R","length":4},{"name":"R","length":2}])"), "\"R\" is given twice"},
        BadBoard{"instruction in two registers", Chain(kDev + R"(,"instructions":{"R":"0x02"},"registers":[{"name":"R","length":4},{"name":"S","length":2,"instructions":["R"]}])"), "is listed by two registers"},
        BadBoard{"unknown register key", Chain(kDev + R"(,"instructions":{"R":"0x02"},"registers":[{"name":"R","length":4,"lenght":3}])"), "unknown key \"lenght\""},
        BadBoard{"comment not text", R"({"comment":1,"chain":[{"name":"d","ir_length":8}]})", "board.comment: must be a text"},
        BadBoard{"two devices same name", R"({"chain":[{"name":"d","ir_length":8},{"name":"d","ir_length":4}]})", "chain[1].name: \"d\" is given twice"},
        BadBoard{"too deep", std::string(100, '[') + std::string(100, ']'), "nested deeper than 16"},
        BadBoard{"too large", std::string(kMaxBoardFileBytes + 1, ' '), "larger than"}));

TEST(ParseBoard, TooManyDevices) {
  std::string json = R"({"chain":[)";
  for (int i = 0; i < 65; ++i) json += std::string(i ? "," : "") + R"({"name":"d)" + std::to_string(i) + R"(","ir_length":2})";
  json += "]}";
  const auto r = ParseBoard(json);
  EXPECT_FALSE(r.board);
  EXPECT_NE(r.error.find("1 to 64 devices"), std::string::npos) << r.error;
}

TEST(ParseBoard, RegisterBitsOfTheWholeBoardAreBounded) {
  // 17 devices with a register of 2^20 bits each: more than 2^24 bits in all.
  std::string json = R"({"chain":[)";
  for (int i = 0; i < 17; ++i) {
    json += std::string(i ? "," : "") + R"({"name":"d)" + std::to_string(i) +
            R"(","ir_length":2,"instructions":{"R":"0x2"},"registers":[{"name":"R","length":1048576}]})";
  }
  json += "]}";
  const auto r = ParseBoard(json);
  EXPECT_FALSE(r.board);
  EXPECT_NE(r.error.find("chain[16].registers[0].length: the board's registers exceed"), std::string::npos) << r.error;
}

TEST(ParseBoard, BracketsInsideStringsDoNotCountAsNesting) {
  const auto r = ParseBoard(R"({"comment":")" + std::string(100, '[') + R"(\"","chain":[{"name":"d","ir_length":8}]})");
  EXPECT_TRUE(r.board) << r.error;
}

TEST(LoadBoardFile, MissingFileAndBrokenFileNameThePath) {
  const auto missing = LoadBoardFile("/nonexistent/board.json");
  EXPECT_FALSE(missing.board);
  EXPECT_EQ(missing.error, "/nonexistent/board.json: cannot be opened");

  const auto path = std::filesystem::temp_directory_path() / "tavrin-virtual-broken-board.json";
  std::ofstream(path) << R"({"chain":[{"name":"d","ir_length":99}]})";
  const auto broken = LoadBoardFile(path.string());
  EXPECT_FALSE(broken.board);
  EXPECT_EQ(broken.error, path.string() + ": board description: chain[0].ir_length: 99 is out of range 2 to 64");
  std::filesystem::remove(path);
}

TEST(ValidateBoard, CatchesBoardsBuiltInCode) {
  BoardSpec b = DefaultBoard();
  b.wiring.tdo = b.wiring.tck;
  EXPECT_NE(ValidateBoard(b), "");
  b = DefaultBoard();
  b.chain[0].registers[0].value.resize(3);
  EXPECT_NE(ValidateBoard(b), "");
  b = DefaultBoard();
  b.chain[0].instructions[0].target = 7;
  EXPECT_NE(ValidateBoard(b), "");
}

}  // namespace
}  // namespace tavrin::board
