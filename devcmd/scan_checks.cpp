#include "scan_checks.h"

bool AreaFitsLens(const LensRecord &lens, const ScanArea &area) {
    if (area.xResolution < lens.minResolution || area.xResolution > lens.maxResolution) return false;
    if (area.yResolution < lens.minResolution || area.yResolution > lens.maxResolution) return false;
    if ((uint32_t)area.left + area.width > lens.areaWidth) return false;
    if ((uint32_t)area.top + area.height > lens.areaHeight) return false;
    if (area.width < lens.minWidth || area.width > lens.areaWidth) return false;
    if (area.height < lens.minHeight || area.height > lens.areaHeight) return false;
    return true;
}

bool OptionAvailable(uint32_t optionMask, uint16_t option) {
    if (option == 0) return true;
    return (optionMask >> ((option - 1u) % 32u)) & 1u;
}
