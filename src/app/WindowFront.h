#pragma once

class QWidget;

// Brings an open window of the program to the front, usable: shown again if
// minimising hid it, and turned modal when another of the program's windows
// is application-modal (a modeless window would stay blocked behind it).
void bringToFront(QWidget* window);
