// Every row of the key name table against the list in tests/golden, which
// was written from the key name list itself, not from the program's array.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>

#include "platform/sim/sim_desktop.h"
#include "script/key_names.h"

namespace vesk {
namespace {

std::map<std::uint32_t, std::string> GoldenRows() {
  std::map<std::uint32_t, std::string> rows;
  std::ifstream in(std::string(VESK_GOLDEN_DIR) + "/key-names.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto tab = line.find('\t');
    EXPECT_NE(tab, std::string::npos) << line;
    if (tab == std::string::npos) continue;
    const auto code = static_cast<std::uint32_t>(std::stoul(line.substr(0, tab), nullptr, 16));
    EXPECT_TRUE(rows.emplace(code, line.substr(tab + 1)).second) << "listed twice: " << line;
  }
  return rows;
}

class KeyNameTableRows : public ::testing::Test {
 protected:
  KeyNameTableRows() { InstallBackend(&sim); }
  ~KeyNameTableRows() override {
    CloseKeyNameLock();
    TheKeyboardState() = {};
    InstallBackend(nullptr);
  }
  // The name under a given keyboard state; a key-up changes no state but Shift's.
  std::optional<std::string> NameWith(std::uint32_t code, KeyboardState state) {
    TheKeyboardState() = state;
    return getKeyCodeString(code, false);
  }
  sim::SimDesktop sim;
  const std::map<std::uint32_t, std::string> golden = GoldenRows();
};

TEST_F(KeyNameTableRows, EveryListedCodeHasItsNameAndTheTableHoldsNoOther) {
  ASSERT_EQ(golden.size(), 153u);
  // Shift held and Caps Lock off: names come out as stored.
  for (const auto& [code, name] : golden) {
    EXPECT_EQ(NameWith(code, {true, false}).value_or("<none>"), name)
        << "code 0x" << std::hex << code;
  }
  std::map<std::uint32_t, std::string> table;
  const auto rows = KeyNameTable();
  ASSERT_EQ(rows.size(), 154u);
  EXPECT_EQ(rows.back().code, 0u) << "the closing row";
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) table.emplace(rows[i].code, rows[i].name);
  EXPECT_EQ(table, golden);
}

TEST_F(KeyNameTableRows, OnlyListedCodesHaveNamesAndOnlyLettersChangeCase) {
  // Neither Shift nor Caps Lock: single capital letters turn small, the
  // rest stays as listed.
  for (const auto& [code, name] : golden) {
    std::string expected = name;
    if (name.size() == 1 && name[0] >= 'A' && name[0] <= 'Z') expected[0] = name[0] - 'A' + 'a';
    EXPECT_EQ(NameWith(code, {false, false}).value_or("<none>"), expected)
        << "code 0x" << std::hex << code;
  }
  // Every other code of the 16 bits a key code uses, and a few above them.
  for (std::uint32_t code = 0; code <= 0xFFFF; ++code) {
    if (golden.count(code) != 0) continue;
    const auto name = NameWith(code, {true, false});
    EXPECT_FALSE(name.has_value()) << "code 0x" << std::hex << code << " named " << *name;
  }
  for (std::uint32_t code : {0x11E41u, 0x80001E41u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(NameWith(code, {true, false}).has_value()) << std::hex << code;
  }
}

}  // namespace
}  // namespace vesk
