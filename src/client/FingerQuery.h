#pragma once

#include <QByteArray>
#include <QString>

// The rules of a finger conversation that need no window: what is sent and
// how each received block is stored.
namespace FingerQuery {

// The query text for the user box's text: a long query puts the "/w" switch
// in front unless the text already starts with it (case-sensitive). Nothing
// is trimmed.
QString queryText(const QString& userName, bool longQuery);

// The one line the client sends: the query text and CR LF.
QString queryLine(const QString& queryText);

// A block that ends in a bare LF gets CR LF there; nothing else changes, so
// every other byte reaches the reply box as received.
QByteArray transformBlock(QByteArray block);

} // namespace FingerQuery
