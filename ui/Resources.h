#pragma once

// The application icon's pictures, compiled in by res/. The resources live in a static library,
// so every window that uses them registers them first (once is enough; again is harmless).
void initDiskwrightResources();

class QIcon;

// The application icon in every size from 16 to 256 pixels, drawn from res/diskwright.svg.
QIcon applicationIcon();
