// Dialog templates give positions and sizes in dialog units, which depend on the template's
// font. Every template here uses 宋体 9 pt, which at 96 dpi has a base unit of 6 by 12
// pixels; a dialog unit is a quarter of the width and an eighth of the height, so one unit
// is 1.5 pixels both across and down. Halves round up (to the nearest pixel, away from 0).
#pragma once

namespace platform {

constexpr int DialogUnitsToPixels(int units) {
    return units >= 0 ? (units * 3 + 1) / 2 : -((-units * 3 + 1) / 2);
}

}  // namespace platform
