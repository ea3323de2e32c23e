#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// A query asked for from outside the window: a finger: link or USER@HOST on
// the command line, or the same handed over by a second start.
struct FingerTarget
{
    QString host;
    QString user; // sent as written; may be empty

    friend bool operator==(const FingerTarget&, const FingerTarget&) = default;
};

// Reads finger://HOST/USER, finger://HOST, USER@HOST or @HOST. A user part
// written %2FW... in a link comes out as /W..., so the long form is reachable
// from a link. Anything else, or a part that could not be sent as one query
// line, gives no target and a sentence in error.
std::optional<FingerTarget> parseFingerTarget(const QString& argument, QString* error);

// A host with a control character in it (a pasted NUL, a tab) names no host
// one could trust: a resolver stops at a NUL, so the socket would reach
// another host than the one shown and saved.
bool hostHasControlCharacter(const QString& host);
// The text with each control character drawn as a visible symbol, for the
// status line and messages, where a NUL would end the text shown.
QString visibleControls(const QString& text);

// What the command line asks of a start.
struct CommandLine
{
    enum class Action {
        Start, // run the program (with target, if one was given)
        Help, // print text on standard output, exit 0
        Version, // print text on standard output, exit 0
        Refuse, // print text (a usage) on standard error, exit 2
    };

    Action action = Action::Start;
    QString text;
    std::optional<FingerTarget> target;
    // A link that could not be read: reported, never sent; the program still starts.
    QString error;
    // The link as given (empty when none), to hand to a copy already running.
    QString link;

    int exitCode() const { return action == Action::Refuse ? 2 : 0; }
};

// arguments[0] is the program. Qt's own display options are let through.
CommandLine parseCommandLine(const QStringList& arguments);
