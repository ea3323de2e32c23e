// Prints what a long flood of visitors costs the reply box: the visits it
// takes to fill it, the memory then and a bound's worth of visits later, and
// how long an append and a paint take along the way.
#include "app/ReplyBox.h"
#include "server/ServerReply.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>

#include <cstdio>

#include <unistd.h>

namespace {
// Where the reply box starts to drop its oldest lines.
constexpr qsizetype kBound = 64LL * 1024 * 1024;

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
    QElapsedTimer timer;
    timer.start();
    box.viewport()->repaint();
    return timer.nsecsElapsed() / 1e6;
}

struct Flood
{
    qint64 visits = 0;
    double averageNs = 0;
    double slowestMs = 0;
};

// One visit at a time, as the server notes them, while `more` says so.
template<class More>
Flood visit(ReplyBox& box, More more)
{
    Flood flood;
    qint64 appending = 0;
    qint64 slowest = 0;
    QElapsedTimer one;
    for (qint64 n = 0;; ++n) {
        const QByteArray line =
            ServerReply::visitorLine(QString(), QStringLiteral("192.0.2.%1").arg(n % 250)).toLatin1();
        if (!more(n, line))
            break;
        one.start();
        box.append(line);
        const qint64 took = one.nsecsElapsed();
        appending += took;
        slowest = std::max(slowest, took);
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ReplyBox box;
    box.resize(472, 203);
    box.show();
    QApplication::processEvents();
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
    std::printf("  text %.1f MiB, %lld lines; resident memory %.1f MB\n", box.length() / 1048576.0,
                qlonglong(box.lineCount()), residentMegabytes());
    std::printf("  paint at the end %.2f ms\n", paintMilliseconds(box));
    return 0;
}
