#pragma once

class QWidget;

// Discards every key press of Enter, Return and Escape aimed at the window or at
// any of the widgets it holds when this is called, so the window is never
// confirmed or dismissed from the keyboard. Call once the window's widgets exist.
void DiscardEnterEscape(QWidget* window);
