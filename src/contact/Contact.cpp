#include "contact/Contact.h"

Contact::Contact(QWidget* mainWindow, const RuntimeConfig& config) : m_mainWindow(mainWindow), m_config(config) {}
Contact::~Contact() = default;
void Contact::openHomePage() {}
void Contact::mailAuthor(bool) {}
void Contact::showAbout(bool) {}
