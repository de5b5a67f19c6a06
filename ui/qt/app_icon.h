#pragma once
#include <QIcon>

class QWidget;

// The application icon (window icons, tray icon), in every size res/ holds.
QIcon AppIcon();

// The windows' own look: a white background with black texts on it.
void PaintWhite(QWidget* window);
