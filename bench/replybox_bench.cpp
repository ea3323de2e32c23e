// Prints how long the reply box takes to take in and show large replies.
#include "BenchSupport.h"

#include "reply/ReplyBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <cstdio>
#include <functional>

#include <sys/resource.h>

namespace {
double milliseconds(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

double peakMegabytes()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void report(const char* what, double ms)
{
    std::printf("%-58s %9.2f ms\n", what, ms);
}

// Paints the view now, the way the window would after an event.
void paint(ReplyBox& box)
{
    box.viewport()->repaint();
}

void scrollToEnd(ReplyBox& box)
{
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    box.horizontalScrollBar()->setValue(box.horizontalScrollBar()->maximum());
}
} // namespace

int main(int argc, char** argv)
{
    Bench::offscreenUnlessSet();
    QApplication app(argc, argv);

    ReplyBox box;
    Bench::showAtDesignSize(box);

    box.append(QByteArray(1024, 'k'));
    report("paint 1 KB", milliseconds([&] { paint(box); }));

    // 10 MiB of 80-character lines, as a finger reply arrives: 4 KiB blocks.
    QByteArray lines;
    while (lines.size() < (10 << 20))
        lines += QByteArray(78, 'a' + lines.size() % 26) + "\r\n";
    lines.truncate(10 << 20);
    box.clear();
    const double appendLines = milliseconds([&] {
        for (qsizetype at = 0; at < lines.size(); at += 4096)
            box.append(lines.mid(at, 4096));
    });
    report("append 10 MiB of 80-char CR LF lines in 4 KiB blocks", appendLines);
    report("  then paint", milliseconds([&] { paint(box); }));
    report("  scroll to the end and paint", milliseconds([&] {
               scrollToEnd(box);
               paint(box);
           }));
    report("  select all and paint", milliseconds([&] {
               box.selectAll();
               paint(box);
           }));

    // One 4 MiB line without a break, in one block and in 4 KiB blocks.
    const QByteArray line(4 << 20, 'x');
    box.clear();
    report("append one 4 MiB line and paint", milliseconds([&] {
               box.append(line);
               paint(box);
           }));
    report("  scroll to the end (right) and paint", milliseconds([&] {
               scrollToEnd(box);
               paint(box);
           }));
    box.clear();
    report("append one 4 MiB line in 4 KiB blocks and paint", milliseconds([&] {
               for (qsizetype at = 0; at < line.size(); at += 4096)
                   box.append(line.mid(at, 4096));
               paint(box);
           }));

    // The same line with tabs throughout: columns come from the line's marks.
    QByteArray tabbed = line;
    for (qsizetype at = 0; at < tabbed.size(); at += 100)
        tabbed[at] = '\t';
    box.clear();
    report("append one 4 MiB line with tabs and paint", milliseconds([&] {
               box.append(tabbed);
               paint(box);
           }));
    report("  scroll to the end (right) and paint", milliseconds([&] {
               scrollToEnd(box);
               paint(box);
           }));

    // A screen full of control characters, each drawn as a symbol.
    box.clear();
    box.append(QByteArray(1 << 20, '\x01'));
    report("paint a view full of control characters", milliseconds([&] { paint(box); }));

    // The most lines a capped reply can hold: 64 MiB of bare line feeds. Last,
    // so the peak memory it adds is its own.
    box.clear();
    const QByteArray feeds(4096, '\n');
    const double before = peakMegabytes();
    report("append 64 MiB of bare LF (64 M lines) in 4 KiB blocks", milliseconds([&] {
               for (int block = 0; block < (64 << 20) / 4096; ++block)
                   box.append(feeds);
           }));
    report("  scroll to the end and paint", milliseconds([&] {
               scrollToEnd(box);
               paint(box);
           }));
    std::printf("%-58s %9.1f MB (text 64 MB, line index 4 bytes a line)\n", "  peak memory it added (ru_maxrss)",
                peakMegabytes() - before);
    return 0;
}
