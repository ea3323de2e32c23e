// Prints how long Find takes to reach a match at the end of a 64 MiB reply,
// run as the window runs it: in slices between events.
#include "BenchSupport.h"

#include "reply/ReplyBox.h"
#include "reply/ReplyFinder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr qsizetype kReply = 64LL << 20;

QByteArray latinLines()
{
    QByteArray reply;
    reply.reserve(kReply);
    const QByteArray line = QByteArray(78, 'a') + "\r\n";
    while (reply.size() + line.size() <= kReply - 64)
        reply += line;
    return reply;
}

QByteArray utf8Lines()
{
    QByteArray reply;
    reply.reserve(kReply);
    const QByteArray line = QString(QStringLiteral("Привет, мир. Zoë Brandt — 東京 ")).repeated(2).toUtf8() + "\n";
    while (reply.size() + line.size() <= kReply - 64)
        reply += line;
    return reply;
}

QByteArray oneLine()
{
    return QByteArray(kReply - 64, 'b');
}

// Median of five searches for the word at the very end, from the top.
double findAtEnd(ReplyBox& box, const QString& what, bool matchCase)
{
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) {
        box.setSelection(0, 0);
        QEventLoop loop;
        QObject::connect(&box, &ReplyBox::searchEnded, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        box.finder().find({what, matchCase, false});
        if (box.finder().isSearching())
            loop.exec();
        runs.push_back(clock.nsecsElapsed() / 1e6);
        if (box.selectedText().compare(what, Qt::CaseInsensitive) != 0)
            std::printf("  (no match found!)\n");
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    Bench::offscreenUnlessSet();
    QApplication app(argc, argv);
    ReplyBox box;
    Bench::showAtDesignSize(box);

    struct Shape
    {
        const char* name;
        QByteArray (*make)();
        bool reply; // appended as a reply, so UTF-8 shows as UTF-8
    };
    const Shape shapes[] = {{"80-column lines", latinLines, false},
                            {"UTF-8 lines", utf8Lines, true},
                            {"one line without a break", oneLine, false}};
    std::printf("Find a word at the end of a 64 MiB reply (median of 5, ms; goal under 300)\n");
    for (const Shape& shape : shapes) {
        QByteArray reply = shape.make();
        reply += " Needle.";
        box.clear();
        box.beginReply();
        box.append(reply);
        box.endReply();
        reply.clear();
        std::printf("%-28s any case %8.1f   match case %8.1f\n", shape.name, findAtEnd(box, "needle", false),
                    findAtEnd(box, "Needle", true));
    }
    return 0;
}
