#pragma once

#include <QByteArray>

class QWidget;

// Brings an open window of the program to the front, usable: shown again if
// minimising hid it, and turned modal when another of the program's windows
// is application-modal (a modeless window would stay blocked behind it).
void bringToFront(QWidget* window);

// Shows a window, in the state it was hidden in but never minimised, and asks
// for it to come to the front. On Wayland only a token from the compositor
// (a launcher's, handed over by a later start) lets a window take the focus;
// without one, a window the compositor minimised or covered comes back mapped afresh.
void showWindowInFront(QWidget* window, const QByteArray& activationToken = {});

bool onWayland();
