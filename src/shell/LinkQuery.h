#pragma once

#include "client/FingerTarget.h"

#include <QObject>
#include <QTimer>

#include <optional>

class Form1;
class QWidget;

// Runs the queries that links ask for, given at start-up or handed over by a
// later start: the main window comes to the front and the query goes through
// its host and user boxes as if typed there and Enter pressed, so the host
// list learns the host like any other.
class LinkQuery : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkQuery)

public:
    explicit LinkQuery(Form1& tray);

    // Shows the window; the query follows once no other query runs.
    void run(const FingerTarget& target, const QByteArray& activationToken = {});
    // A later start's arguments: a link to run, or nothing (only show the
    // window), with the token that lets the window come to the front.
    void handOver(const QStringList& arguments, const QByteArray& activationToken = {});

private:
    void typeAndEnter();

    Form1& m_tray;
    // The latest link that waits for a running query to end.
    std::optional<FingerTarget> m_pending;
    QTimer m_wait;
};

// A link that cannot be read: on standard error (unless said there already) and in a message box, never sent.
void reportBadLink(const QString& error, QWidget* parent = nullptr, bool onStandardError = true);
