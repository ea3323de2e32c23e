#include "client/FingerTarget.h"

#include "app/Config.h"
#include "app/Settings.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {
const QString kForms = QStringLiteral("finger://HOST/USER, finger://HOST, USER@HOST or @HOST");

std::optional<FingerTarget> refuse(const QString& argument, const QString& reason, QString* error)
{
    if (error)
        *error = QStringLiteral("Cannot finger \"%1\": %2.").arg(visibleControls(argument), reason);
    return std::nullopt;
}

// A line break would end the query line early and send the rest as a second one.
bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// An IPv6 address may come in brackets, as in a link; the socket wants it bare.
QString bareHost(const QString& host)
{
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return host.mid(1, host.size() - 2);
    return host;
}

bool isHostName(const QString& host)
{
    QUrl probe;
    probe.setHost(host, QUrl::StrictMode);
    return !host.isEmpty() && probe.isValid() && !probe.host().isEmpty();
}

std::optional<FingerTarget> checkedTarget(const QString& argument, const FingerTarget& target, QString* error)
{
    if (target.host.isEmpty())
        return refuse(argument, QStringLiteral("the host name is missing"), error);
    if (hostHasControlCharacter(target.host) || !isHostName(target.host))
        return refuse(argument, QStringLiteral("the host name is not valid"), error);
    if (hasControlCharacter(target.user))
        return refuse(argument, QStringLiteral("the user part holds a line break or another control character"),
                      error);
    return target;
}

std::optional<FingerTarget> parseLink(const QString& argument, QString* error)
{
    const QUrl url(argument, QUrl::StrictMode);
    if (!url.isValid())
        return refuse(argument, QStringLiteral("the host name is not valid"), error);
    if (url.port(RuntimeConfig::kFingerPort) != RuntimeConfig::kFingerPort)
        return refuse(argument, QStringLiteral("finger links go to port 79 only"), error);
    // Still encoded, a slash that belongs to the user (%2F) is told from one that separates.
    const QString path = url.path(QUrl::FullyEncoded);
    if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment() || path.indexOf(QLatin1Char('/'), 1) > 0)
        return refuse(argument, QStringLiteral("a link names a host and at most one user: ") + kForms, error);
    if (!argument.mid(7).startsWith(QLatin1String("//")) || (!path.isEmpty() && !path.startsWith(QLatin1Char('/'))))
        return refuse(argument, QStringLiteral("write ") + kForms, error);
    const QString user = QUrl::fromPercentEncoding(path.mid(1).toUtf8());
    return checkedTarget(argument, {url.host(QUrl::FullyDecoded), user}, error);
}
} // namespace

bool hostHasControlCharacter(const QString& host)
{
    return std::any_of(host.cbegin(), host.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

QString visibleControls(const QString& text)
{
    QString shown = text;
    for (QChar& c : shown) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode()); // the control pictures: NUL becomes U+2400
        else if (c.unicode() == 0x7f)
            c = QChar(0x2421);
        else if (c.category() == QChar::Other_Control)
            c = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

std::optional<FingerTarget> parseFingerTarget(const QString& argument, QString* error)
{
    if (argument.startsWith(QLatin1String("finger:"), Qt::CaseInsensitive))
        return parseLink(argument, error);
    // The last @ names the host; one before it stays in the query, which asks that host to forward.
    const qsizetype at = argument.lastIndexOf(QLatin1Char('@'));
    if (at < 0)
        return refuse(argument, QStringLiteral("write ") + kForms, error);
    return checkedTarget(argument, {bareHost(argument.mid(at + 1)), argument.left(at)}, error);
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Qt's own display options stay usable, as in every Qt program.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("A finger client and finger server in the system tray."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                  QStringLiteral("Displays help on commandline options."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(help);
    parser.addOption(version);
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "style",
                             "stylesheet", "session", "qwindowgeometry", "qwindowtitle", "qwindowicon"}) {
        QCommandLineOption qtOption(QLatin1String(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption qtOption{QString::fromLatin1(name)};
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    parser.addPositionalArgument(QStringLiteral("link"),
                                 QStringLiteral("Runs a short query: ") + kForms + QStringLiteral("."),
                                 QStringLiteral("[link]"));

    const QString program =
        arguments.isEmpty() ? QStringLiteral("finger-quobix") : QFileInfo(arguments.first()).fileName();
    // The parser names the executable only when an application object exists; say it always.
    QString usage = parser.helpText();
    usage = QStringLiteral("Usage: %1 [options] [link]\n").arg(program) + usage.section(QLatin1Char('\n'), 1);

    CommandLine line;
    auto refuseLine = [&](const QString& why) {
        line.action = CommandLine::Action::Refuse;
        line.text = QStringLiteral("%1: %2\nUsage: %1 [options] [link]\nTry '%1 --help' for more.\n").arg(program, why);
        return line;
    };
    if (!parser.parse(arguments))
        return refuseLine(parser.errorText());
    if (parser.isSet(help)) {
        line.action = CommandLine::Action::Help;
        line.text = usage;
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandLine::Action::Version;
        line.text = kAppName + QLatin1Char(' ') + QStringLiteral(QUOBIX_VERSION) + QLatin1Char('\n');
        return line;
    }
    const QStringList links = parser.positionalArguments();
    if (links.size() > 1)
        return refuseLine(QStringLiteral("one link at most."));
    if (!links.isEmpty()) {
        line.link = links.first();
        line.target = parseFingerTarget(line.link, &line.error);
    }
    return line;
}
