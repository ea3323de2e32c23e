// Prints what a long flood of visitors costs the reply box: the visits it
// takes to fill it, the memory then and a bound's worth of visits later, and
// how long an append and a paint take along the way (in CPU time of this
// thread, so a loaded machine changes them little). With --unbounded the box
// keeps everything, as it did before it had a limit.
#include "BenchSupport.h"

#include "reply/ReplyBox.h"
#include "server/ServerReply.h"

#include <QApplication>
#include <QFile>
#include <QScrollBar>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include <unistd.h>

namespace {
// Where the reply box starts to drop its oldest lines.
constexpr qsizetype kBound = 64LL * 1024 * 1024;

qint64 cpuNanoseconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double paintMilliseconds(ReplyBox& box)
{
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    const qint64 start = cpuNanoseconds();
    box.viewport()->repaint();
    return (cpuNanoseconds() - start) / 1e6;
}

struct Flood
{
    qint64 visits = 0;
    double averageNs = 0;
    double slowestMs = 0; // of the appends that dropped nothing
    int drops = 0; // appends that dropped the oldest lines
    double slowestDropMs = 0;
};

// One visit at a time, as the server notes them, while `more` says so.
template<class More>
Flood visit(ReplyBox& box, More more)
{
    Flood flood;
    qint64 appending = 0;
    qint64 slowest = 0;
    for (qint64 n = 0;; ++n) {
        const QByteArray line =
            ServerReply::visitorLine(QString(), QStringLiteral("192.0.2.%1").arg(n % 250)).toLatin1();
        if (!more(n, line))
            break;
        const qsizetype before = box.length();
        const qint64 start = cpuNanoseconds();
        box.append(line);
        const qint64 took = cpuNanoseconds() - start;
        appending += took;
        if (box.length() < before + line.size()) {
            ++flood.drops;
            flood.slowestDropMs = std::max(flood.slowestDropMs, took / 1e6);
        } else {
            slowest = std::max(slowest, took);
        }
        ++flood.visits;
        // Between visits the program's event loop runs (and paints).
        if (n % 1000 == 999)
            QCoreApplication::processEvents();
    }
    flood.averageNs = double(appending) / double(std::max<qint64>(flood.visits, 1));
    flood.slowestMs = slowest / 1e6;
    return flood;
}
} // namespace

int main(int argc, char** argv)
{
    Bench::offscreenUnlessSet();
    QApplication app(argc, argv);

    ReplyBox box;
    if (argc > 1 && std::strcmp(argv[1], "--unbounded") == 0)
        box.setLimit(std::numeric_limits<qsizetype>::max());
    Bench::showAtDesignSize(box);
    const double startMb = residentMegabytes();

    // Until the next visit would pass the bound.
    const Flood fill = visit(box, [&box](qint64, const QByteArray& line) { return box.length() + line.size() <= kBound; });
    std::printf("visits to fill 64 MiB                          %12lld\n", qlonglong(fill.visits));
    std::printf("  append: average %.0f ns a visit, slowest %.2f ms\n", fill.averageNs, fill.slowestMs);
    std::printf("  text %.1f MiB, %lld lines; resident memory %.1f MB (%.1f MB at start)\n",
                box.length() / 1048576.0, qlonglong(box.lineCount()), residentMegabytes(), startMb);
    std::printf("  paint at the end %.2f ms\n", paintMilliseconds(box));

    // As many visits again: a bound's worth more, a day or so of a flood.
    const qint64 again = fill.visits;
    const Flood more = visit(box, [again](qint64 n, const QByteArray&) { return n < again; });
    std::printf("%lld visits more\n", qlonglong(more.visits));
    std::printf("  append: average %.0f ns a visit, slowest %.2f ms\n", more.averageNs, more.slowestMs);
    std::printf("  %d of them dropped old lines, the slowest in %.2f ms\n", more.drops, more.slowestDropMs);
    std::printf("  text %.1f MiB, %lld lines; resident memory %.1f MB\n", box.length() / 1048576.0,
                qlonglong(box.lineCount()), residentMegabytes());
    std::printf("  paint at the end %.2f ms\n", paintMilliseconds(box));
    return 0;
}
