#pragma once

// The pictures compiled in from res/diskwright.qrc. The resources live in a static library, so
// every window that uses them registers them first (once is enough; again is harmless).
void initDiskwrightResources();

class QIcon;

// Icon 128, the application icon, in its 16 and 32 pixel sizes.
QIcon applicationIcon();
