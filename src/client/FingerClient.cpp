#include "client/FingerClient.h"

#include "app/finger.h"

#include <QComboBox>

FingerClient::FingerClient(finger& window) : m_window(window) {}

FingerClient::~FingerClient() = default;

void FingerClient::fillHostBox(const QStringList& table)
{
    QComboBox* box = m_window.text2;
    for (const QString& host : table) {
        if (!host.isEmpty())
            box->addItem(host);
    }
    if (box->count() > 0)
        box->setCurrentIndex(0);
}

void FingerClient::captureHostBox(QStringList& table)
{
    QComboBox* box = m_window.text2;
    if (box->count() == 0)
        return;
    table.clear();
    for (int j = 0; j < box->count(); ++j)
        table.append(box->itemText(j));
}

void FingerClient::mnuHost_Click() {}
