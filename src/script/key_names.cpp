// The key name table and its lookup under the named lock.
#include "script/key_names.h"

#include <array>

#include "platform/platform.h"

namespace vesk {

namespace {

constexpr std::uint32_t kLeftShift = 0x2A10;
constexpr std::uint32_t kRightShift = 0x3610;
constexpr std::uint32_t kCapsLock = 0x3A14;

constexpr std::array<KeyNameRow, 154> kTable{{
    // Letters: capital and small, same scan code.
    {"A", 0x1E41},
    {"a", 0x1E61},
    {"B", 0x3042},
    {"b", 0x3062},
    {"C", 0x2E43},
    {"c", 0x2E63},
    {"D", 0x2044},
    {"d", 0x2064},
    {"E", 0x1245},
    {"e", 0x1265},
    {"F", 0x2146},
    {"f", 0x2166},
    {"G", 0x2247},
    {"g", 0x2267},
    {"H", 0x2348},
    {"h", 0x2368},
    {"I", 0x1749},
    {"i", 0x1769},
    {"J", 0x244A},
    {"j", 0x246A},
    {"K", 0x254B},
    {"k", 0x256B},
    {"L", 0x264C},
    {"l", 0x266C},
    {"M", 0x324D},
    {"m", 0x326D},
    {"N", 0x314E},
    {"n", 0x316E},
    {"O", 0x184F},
    {"o", 0x186F},
    {"P", 0x1950},
    {"p", 0x1970},
    {"Q", 0x1051},
    {"q", 0x1071},
    {"R", 0x1352},
    {"r", 0x1372},
    {"S", 0x1F53},
    {"s", 0x1F73},
    {"T", 0x1454},
    {"t", 0x1474},
    {"U", 0x1655},
    {"u", 0x1675},
    {"V", 0x2F56},
    {"v", 0x2F76},
    {"W", 0x1157},
    {"w", 0x1177},
    {"X", 0x2D58},
    {"x", 0x2D78},
    {"Y", 0x1559},
    {"y", 0x1579},
    {"Z", 0x2C5A},
    {"z", 0x2C7A},
    // Digits.
    {"0", 0x0B30},
    {"1", 0x0231},
    {"2", 0x0332},
    {"3", 0x0433},
    {"4", 0x0534},
    {"5", 0x0635},
    {"6", 0x0736},
    {"7", 0x0837},
    {"8", 0x0938},
    {"9", 0x0A39},
    // Other characters, character form.
    {"{!}", 0x0221},
    {"\"", 0x2822},
    {"{#}", 0x0423},
    {"$", 0x0524},
    {"%", 0x0625},
    {"&", 0x0826},
    {"''", 0x2827},
    {")", 0x0B29},
    {"*", 0x092A},
    {"{+}", 0x0D2B},
    {",", 0x332C},
    {"-", 0x0C2D},
    {".", 0x342E},
    {"/", 0x352F},
    {":", 0x273A},
    {";", 0x273B},
    {"<", 0x333C},
    {"=", 0x0D3D},
    {">", 0x343E},
    {"?", 0x353F},
    {"@", 0x0340},
    {"[", 0x1A5B},
    {"\\", 0x2B5C},
    {"]", 0x1B5D},
    {"{^}", 0x075E},
    {"_", 0x0C5F},
    {"`", 0x2960},
    {"{{}", 0x1A7B},
    {"|", 0x2B7C},
    {"{}}", 0x1B7D},
    {"~", 0x297E},
    // Named keys.
    {"BS", 0x0E08},
    {"TAB", 0x0F09},
    {"ENTER", 0x1C0D},
    {"SPACE", 0x3920},
    {"CAPSLOCK", 0x3A14},
    {"LSHIFT", 0x2A10},
    {"RSHIFT", 0x3610},
    {"LCTRL", 0x1D11},
    {"LALT", 0x3812},
    {"PAUSE", 0x4513},
    {"NUMLOCK", 0x4590},
    {"PRINTSCREEN", 0x372C},
    {"HOME", 0x4700},
    {"HOME", 0x4724},
    {"UP", 0x4800},
    {"UP", 0x4826},
    {"PGUP", 0x4900},
    {"PGUP", 0x4921},
    {"LEFT", 0x4B00},
    {"LEFT", 0x4B25},
    {"RIGHT", 0x4D00},
    {"RIGHT", 0x4D27},
    {"END", 0x4F00},
    {"END", 0x4F23},
    {"DOWN", 0x5000},
    {"DOWN", 0x5028},
    {"PGDN", 0x5100},
    {"PGDN", 0x5122},
    {"INSERT", 0x5200},
    {"INSERT", 0x522D},
    {"DEL", 0x5300},
    {"DEL", 0x532E},
    {"F1", 0x3B00},
    {"F2", 0x3C00},
    {"F3", 0x3D00},
    {"F4", 0x3E00},
    {"F5", 0x3F00},
    {"F6", 0x4000},
    {"F7", 0x4100},
    {"F8", 0x4200},
    {"F9", 0x4300},
    {"F10", 0x4400},
    {"F11", 0x8500},
    {"F12", 0x8600},
    {"NUMPAD0", 0x5260},
    {"NUMPAD1", 0x4F61},
    {"NUMPAD2", 0x5062},
    {"NUMPAD3", 0x5163},
    {"NUMPAD4", 0x4B64},
    {"NUMPAD5", 0x4C65},
    {"NUMPAD6", 0x4D66},
    {"NUMPAD7", 0x4767},
    {"NUMPAD8", 0x4868},
    {"NUMPAD9", 0x4969},
    {"NUMPAD5", 0x4C0C},
    {"NUMPADMULT", 0x376A},
    {"NUMPADADD", 0x4E6B},
    {"NUMPADSUB", 0x4A6D},
    {"NUMPADDOT", 0x536E},
    {"NUMPADDIV", 0x356F},
    // Closing row.
    {"", 0},
}};

KeyboardState g_keyboard;
MutexHandle g_lock = 0;
bool g_lockTried = false;

}  // namespace

std::span<const KeyNameRow> KeyNameTable() { return kTable; }

KeyboardState& TheKeyboardState() { return g_keyboard; }

void CloseKeyNameLock() {
  if (g_lock != 0) Sys().CloseHandle(g_lock);
  g_lock = 0;
  g_lockTried = false;
}

std::optional<std::string> getKeyCodeString(std::uint32_t keyCode, bool keyDown) {
  // The handle is opened once and kept; a failed open is tried again next time.
  if (g_lock == 0 && !g_lockTried) {
    g_lock = Sys().CreateMutex(kKeyNameMutexName);
    g_lockTried = g_lock != 0;
  }
  bool owned = false;
  if (g_lock != 0) {
    const std::uint32_t wait = Sys().WaitForSingleObject(g_lock, kKeyNameMutexWait);
    owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }

  if (keyCode == kLeftShift || keyCode == kRightShift) g_keyboard.ShiftDown = keyDown;
  if (keyCode == kCapsLock && keyDown) g_keyboard.CapsLockOn = !g_keyboard.CapsLockOn;

  std::optional<std::string> name;
  for (const KeyNameRow& row : kTable) {
    if (row.code == 0) break;
    if (row.code == keyCode) {
      name = row.name;
      break;
    }
  }
  if (name && name->size() == 1 && g_keyboard.CapsLockOn == g_keyboard.ShiftDown) {
    char& c = (*name)[0];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }

  if (owned) Sys().ReleaseMutex(g_lock);
  return name;
}

}  // namespace vesk
