#pragma once

class QMainWindow;

// Buttons whose access key is also one of the menu bar's give it up, so that
// Alt and that letter opens the menu every time instead of alternating between
// the menu and the button. The buttons keep their captions and stay reachable
// by Tab, Enter and Space.
void yieldAccessKeysToMenuBar(QMainWindow* window);
