#include "reply/ReplyLinks.h"

#include "reply/ReplyGlyphs.h"
#include "reply/ReplyText.h"
#include "reply/ShownText.h"

#include <QLatin1StringView>

#include <algorithm>
#include <array>

namespace {
struct Scheme
{
    QLatin1StringView prefix;
    ReplyLinks::Kind kind;
};

constexpr std::array kSchemes{
    Scheme{QLatin1StringView("http://"), ReplyLinks::Kind::Document},
    Scheme{QLatin1StringView("https://"), ReplyLinks::Kind::Document},
    Scheme{QLatin1StringView("gopher://"), ReplyLinks::Kind::Document},
    Scheme{QLatin1StringView("gemini://"), ReplyLinks::Kind::Document},
    Scheme{QLatin1StringView("ftp://"), ReplyLinks::Kind::Document},
    Scheme{QLatin1StringView("finger://"), ReplyLinks::Kind::Finger},
    Scheme{QLatin1StringView("mailto:"), ReplyLinks::Kind::Document},
};
const QLatin1StringView kBareWeb("www.");

bool endsLink(QChar c)
{
    if (c.isSpace() || c == u'<' || c == u'>' || c == u'"' || c.category() == QChar::Other_Control)
        return true;
    // What the box draws as a framed symbol is never part of an address.
    return c.unicode() < 0x100 && ReplyGlyphs::kind(uchar(c.unicode())) == ReplyGlyphs::Glyph::Symbol;
}

// "xhttp://" and "mywww.site" are no links: a scheme starts a word.
bool startsWord(QStringView line, qsizetype at, bool bare)
{
    if (at == 0)
        return true;
    const QChar before = line.at(at - 1);
    if (before.isLetterOrNumber() || before == u'+' || before == u'-' || before == u'.')
        return false;
    // A bare name inside an address (joe@www.site, ftp://www.site) belongs to that.
    return !bare || !(before == u'@' || before == u'/' || before == u'_' || before == u'%' || before == u':');
}

qsizetype trimmedEnd(QStringView line, qsizetype from, qsizetype end)
{
    while (end > from) {
        const QChar last = line.at(end - 1);
        if (QStringView(u".,;:!?'").contains(last)) {
            --end;
        } else if (last == u')') {
            const QStringView link = line.mid(from, end - from);
            if (link.count(u')') <= link.count(u'('))
                break;
            --end;
        } else {
            break;
        }
    }
    return end;
}
} // namespace

namespace ReplyLinks {
std::vector<Link> find(QStringView line)
{
    std::vector<Link> links;
    qsizetype i = 0;
    while (i < line.size()) {
        const QChar c = line.at(i);
        // Every scheme and the bare name start with one of these letters.
        if (!QStringView(u"hgfmwHGFMW").contains(c)) {
            ++i;
            continue;
        }
        const QStringView rest = line.mid(i);
        qsizetype prefix = 0;
        QString scheme;
        bool bare = false;
        for (const Scheme& s : kSchemes) {
            if (rest.startsWith(s.prefix, Qt::CaseInsensitive)) {
                prefix = s.prefix.size();
                scheme = s.prefix;
                break;
            }
        }
        if (prefix == 0 && rest.startsWith(kBareWeb, Qt::CaseInsensitive)) {
            prefix = kBareWeb.size();
            bare = true;
        }
        if (prefix == 0 || !startsWord(line, i, bare)) {
            ++i;
            continue;
        }
        qsizetype end = i + prefix;
        while (end < line.size() && !endsLink(line.at(end)))
            ++end;
        end = trimmedEnd(line, i, end);
        // A scheme alone, or "www." with nothing after it, is no address.
        const bool hasBody = end > i + prefix && (!bare || line.at(i + prefix).isLetterOrNumber());
        if (!hasBody) {
            i += prefix;
            continue;
        }
        const QString text = line.mid(i, end - i).toString();
        // The scheme as the launcher expects it; the rest exactly as written.
        const QString target = bare ? QStringLiteral("http://") + text : scheme + text.mid(prefix);
        links.push_back({i, end, target});
        i = end;
    }
    return links;
}

Kind kindOf(const QString& target)
{
    for (const Scheme& s : kSchemes) {
        if (target.startsWith(s.prefix, Qt::CaseInsensitive) && target.size() > s.prefix.size())
            return s.kind;
    }
    return Kind::None;
}

std::vector<Link> inLine(const ReplyText& text, qsizetype line, qsizetype from, qsizetype to)
{
    if (line < 0 || line >= text.lineCount())
        return {};
    const qsizetype start = text.lineStart(line);
    const qsizetype end = text.lineEnd(line);
    from = std::clamp(from, start, end);
    to = std::clamp(to, from, end);
    qsizetype readFrom = start;
    qsizetype readTo = end;
    if (end - start > kWholeLine) {
        readFrom = text.characterStart(std::max(start, from - kLongestLink));
        readTo = std::min(end, to + kLongestLink);
        if (readTo < end)
            readTo = text.characterStart(readTo);
    }
    const ShownText shown(text, readFrom, readTo);
    QStringView view(shown.text());
    qsizetype skip = 0;
    if (readFrom > start) {
        // Begin after the first break in the window, so no link is found from its middle.
        while (skip < view.size() && !endsLink(view.at(skip)))
            ++skip;
    }
    std::vector<Link> links;
    for (Link link : find(view.mid(skip))) {
        // A link running into the window's end may go on past it: not one to open cut short.
        if (readTo < end && skip + link.to >= view.size())
            break;
        link.from = shown.positionOf(skip + link.from);
        link.to = shown.positionOf(skip + link.to);
        if (link.to > from && link.from < std::max(to, from + 1))
            links.push_back(std::move(link));
    }
    return links;
}

Link at(const ReplyText& text, qsizetype position)
{
    const qsizetype line = text.lineOf(position);
    for (Link& link : inLine(text, line, position, position + 1)) {
        if (position >= link.from && position < link.to)
            return std::move(link);
    }
    return {position, position, QString()};
}
} // namespace ReplyLinks
