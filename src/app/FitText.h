#pragma once

class QWidget;

// Makes every label of a fixed-size window show its text whole at the fonts
// this machine has: a label too narrow widens into free room to its right
// or wraps, one too short grows, and the window grows when a label would
// end outside it. A label taller than its text ends inside the window.
// Call it once the window has its fixed size.
void fitTexts(QWidget* window);
