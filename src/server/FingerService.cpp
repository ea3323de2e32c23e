#include "server/FingerService.h"

#include "app/finger.h"

FingerService::FingerService(finger& window) : m_window(window) {}
FingerService::~FingerService() = default;
void FingerService::ConfigFingerServer() {}
void FingerService::showSetup(bool) {}
