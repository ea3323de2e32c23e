#include "net/SocketComponent.h"

// Placeholder until the component lands.
class SocketComponent::Private {};
SocketComponent::SocketComponent(const SocketOptions&, QObject* parent) : QObject(parent), d(new Private) {}
SocketComponent::~SocketComponent() = default;
void SocketComponent::setOperation(int) {}
int SocketComponent::Operation() const { return 0; }
void SocketComponent::setFamily(int) {}
int SocketComponent::Family() const { return 2; }
void SocketComponent::setProtocolNumber(int) {}
int SocketComponent::ProtocolNumber() const { return 6; }
void SocketComponent::setBindPort(int) {}
int SocketComponent::BindPort() const { return 0; }
void SocketComponent::setTargetHost(const QString&) {}
void SocketComponent::setTargetPort(int) {}
int SocketComponent::TargetPort() const { return 0; }
void SocketComponent::setBufferBytes(int) {}
int SocketComponent::BufferBytes() const { return 0; }
void SocketComponent::setOptionA(bool) {}
void SocketComponent::setOptionB(bool) {}
void SocketComponent::setOptionC(bool) {}
bool SocketComponent::OptionA() const { return false; }
bool SocketComponent::OptionB() const { return false; }
bool SocketComponent::OptionC() const { return false; }
void SocketComponent::setAcceptHandle(qintptr) {}
void SocketComponent::setWriteCount(qint64) {}
void SocketComponent::setWriteData(const QString&) {}
void SocketComponent::setReadCount(qint64) {}
QString SocketComponent::ReadData() { return {}; }
bool SocketComponent::ConnectedState() const { return false; }
bool SocketComponent::BusyState() const { return false; }
QString SocketComponent::TargetHost() const { return {}; }
QString SocketComponent::TargetAddress() const { return {}; }
QString SocketComponent::PartnerName() const { return {}; }
QString SocketComponent::PartnerAddress() const { return {}; }
int SocketComponent::LocalPort() const { return 0; }
QString SocketComponent::OwnAddress() const { return {}; }
QString SocketComponent::OwnHostName() const { return {}; }
QString SocketComponent::StackDescription() const { return {}; }
int SocketComponent::SocketLimit() const { return 0; }
