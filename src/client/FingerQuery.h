#pragma once

#include <QByteArray>
#include <QString>
#include <QValidator>

// The rules of a finger conversation that need no window: what is sent and
// how each received block is stored.
namespace FingerQuery {

// The query text for the user box's text: a long query puts the "/w" switch
// in front unless the text already starts with it (case-sensitive). Nothing
// is trimmed.
QString queryText(const QString& userName, bool longQuery);

// What the host and user boxes ask for. "user@host" in the host box with the
// user box empty asks for user at host, as on the command line: the last @
// names the host, so "joe@a@b" asks b to forward to joe@a. With nothing after
// the @ the text stays the host as typed.
struct BoxTarget
{
    QString host;
    QString user;
};
BoxTarget boxTarget(const QString& hostBox, const QString& userBox);

// The one line the client sends: the query text and CR LF.
QString queryLine(const QString& queryText);

// A block that ends in a bare LF gets CR LF there; nothing else changes, so
// every other byte reaches the reply box as received.
QByteArray transformBlock(QByteArray block);

} // namespace FingerQuery

// Keeps a one-line box one line, as a single-line edit field does: text put
// in with a line break (a paste, a drop) is kept only up to that break, and
// what stood after the cursor stays. Otherwise the user box could send
// further query lines and the host box hold a name no lookup finds.
class SingleLineValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};
