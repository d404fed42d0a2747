#include "screensaver.h"

Sprite buildSprite(const wishwell::Item&) { return {}; }
void drawBanner(Gdiplus::GpGraphics*, int, int) {}
