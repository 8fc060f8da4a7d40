// The playback settings and their file, "VeskSettings.auc" in the working
// directory: repeat count, two flag bytes, a length-prefixed path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vesk {

inline constexpr const char* kSettingsFileName = "VeskSettings.auc";
inline constexpr const char* kDefaultJournalName = "VeskJournal.alg";

class VeskSettings {
 public:
  static constexpr const char* kClassName = "VeskSettings";
  static constexpr int kSchema = 1;

  std::int32_t repeatCount = 1;
  std::uint8_t playAtStartup = 0;
  std::uint8_t playAtRecordedSpeed = 1;
  std::string defaultJournalPath = kDefaultJournalName;

  // False when the file cannot be opened, or when it opens but does not
  // hold a whole record; the fields then keep their values.
  bool Load();
  // False when the file cannot be opened or written. The file is rewritten
  // in place and never shortened: a longer old path leaves its tail.
  bool Save() const;

  // The record's bytes, and the reverse (false on a damaged record, and
  // then *this is unchanged).
  std::string Serialize() const;
  bool Deserialize(std::string_view bytes);

  std::string fileName = kSettingsFileName;  // where Load and Save go
};

}  // namespace vesk
