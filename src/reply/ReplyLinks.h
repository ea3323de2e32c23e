#pragma once

#include <QString>
#include <QStringView>

#include <vector>

class ReplyText;

// The web and mail addresses in a reply, which the box underlines and opens.
// Only the schemes below are links; a file:, javascript: or data: address
// and every other scheme stays plain text and is never opened.
namespace ReplyLinks {
struct Link
{
    qsizetype from; // [from, to) in the text searched
    qsizetype to;
    QString target; // what opening it opens: the text, a bare www. name as http://

    friend bool operator==(const Link&, const Link&) = default;
};

enum class Kind {
    None, // not a link this program opens
    Finger, // runs its query in the main window
    Document, // handed to the desktop's handler
};

// The links in one line of shown text. A link ends at white space, a control
// character, <, >, " or the end; sentence punctuation after it (. , ; : ! ? ' and
// a ) that opens nowhere inside it) is not part of it.
std::vector<Link> find(QStringView line);

// How a target opens.
Kind kindOf(const QString& target);

// A line longer than this is searched only around the part asked for; a link
// may reach at most kLongestLink bytes beyond it to be found there.
constexpr qsizetype kWholeLine = 4096;
constexpr qsizetype kLongestLink = 2048;

// The links of a line of the reply text that overlap the bytes [from, to) of
// it, in byte positions of the text. Only that line is read, so the painter
// can ask for the lines it draws and a huge reply costs nothing more.
std::vector<Link> inLine(const ReplyText& text, qsizetype line, qsizetype from, qsizetype to);
// The link holding the character at position, if any (target empty when none).
Link at(const ReplyText& text, qsizetype position);
} // namespace ReplyLinks
