// Window geometry is designed in twips (1440 to the inch) and shown in pixels.
#pragma once

namespace moatgate {

constexpr int TwipsToPixels(int twips, int dpi) {
    // Rounded to the nearest pixel, for negative offsets as well.
    const long long scaled = static_cast<long long>(twips) * dpi;
    return static_cast<int>(scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 720) / 1440));
}

constexpr int PixelsToTwips(int pixels, int dpi) {
    return dpi > 0 ? static_cast<int>((static_cast<long long>(pixels) * 1440 + dpi / 2) / dpi) : 0;
}

}  // namespace moatgate
