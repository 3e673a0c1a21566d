#pragma once

namespace updater {

// The icon IDR_MAINFRAME, in its 32 x 32 and 16 x 16 images, from the compiled-in resources.
inline constexpr const char* kIconPath32 = ":/res/idr_mainframe_32.png";
inline constexpr const char* kIconPath16 = ":/res/idr_mainframe_16.png";

}  // namespace updater
