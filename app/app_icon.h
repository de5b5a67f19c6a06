#pragma once
#include <QIcon>

// The application icon (window icons, tray icon), in every size res/ holds.
QIcon AppIcon();
