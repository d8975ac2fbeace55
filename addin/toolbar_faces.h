// The faces of the toolbar's buttons, by Office face id: the toolbar builds the buttons with them,
// a received fax lights the indicator, and the indicator's command puts the idle face back once
// the user has looked at the archive.
#pragma once

#include <cstdint>

namespace vexa {

inline constexpr std::int32_t kFaceIndicatorIdle = 351;
inline constexpr std::int32_t kFaceIndicatorNew = 352;

}  // namespace vexa
