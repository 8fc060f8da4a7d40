// Process-wide state of the recording step.
#pragma once

#include <cstdint>

namespace vesk {

struct RecordingStepState {
  std::uint32_t lastKeyCode = 0;
  bool lastKeyDown = false;
};
RecordingStepState& TheRecordingStepState();

}  // namespace vesk
