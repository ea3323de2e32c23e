#include "output/Transcript.h"

#include "app/finger.h"

Transcript::Transcript(finger& window) : m_window(window) {}
Transcript::~Transcript() = default;
void Transcript::mnuSave_Click() {}
void Transcript::mnuPrint_Click() {}
bool Transcript::isPrinting() const { return false; }
