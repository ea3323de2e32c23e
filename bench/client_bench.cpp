// Prints how fast the finger client takes in large replies from a loopback
// server, next to socat reading the same reply, the peak memory, and for
// 64 MiB replies of each shape the peak memory over the idle program and
// how fast lines are looked up and the view is painted.
#include "BenchSupport.h"

#include "app/Config.h"
#include "app/Platform.h"
#include "app/PrinterDevice.h"
#include "net/SocketComponent.h"
#include "reply/ReplyBox.h"
#include "shell/Form1.h"
#include "shell/finger.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Answers at once; the benchmark never opens a window that waits for a person.
class QuietPlatform final : public Platform
{
public:
    Answer messageBox(QWidget*, const QString&, Icon, const QString&, Buttons) override { return Answer::Ok; }
    SaveResult saveFileName(QWidget*, const QString&) override { return {}; }
    QAction* popupMenu(QMenu*, const QPoint&) override { return nullptr; }
    int LaunchDocument(const QString&, const QString&, int, const QString&, const QString&, WId) override
    {
        return 33;
    }
    std::unique_ptr<PrinterDevice> defaultPrinter(QString*) override { return nullptr; }
    QDateTime now() override { return QDateTime::currentDateTime(); }
    QSize screenSize() override { return QSize(1024, 768); }
};

// A finger server on its own thread, so its sending never competes with the
// GUI thread's event loop: per connection it reads the query line (or up to
// the client's half-close), sends the reply and closes.
class ReplyServer
{
public:
    ReplyServer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 8);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~ReplyServer()
    {
        m_stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_thread.join();
    }

    quint16 port() const { return m_port; }

    void setReply(const QByteArray& reply) { setReply(reply, reply.size()); }

    // The pattern repeated to total bytes, made as it is sent, so the server
    // holds no copy of a large reply in the process being measured.
    void setReply(const QByteArray& pattern, qsizetype total)
    {
        QByteArray chunk = pattern;
        while (chunk.size() < (256 << 10) && chunk.size() < total)
            chunk += pattern;
        const std::lock_guard lock(m_mutex);
        m_reply = chunk;
        m_total = total;
        m_period = pattern.size();
    }

private:
    void run()
    {
        while (!m_stopping) {
            const int connection = ::accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            char byte = 0;
            while (::read(connection, &byte, 1) == 1 && byte != '\n') {
            }
            QByteArray chunk;
            qsizetype total = 0;
            qsizetype period = 1;
            {
                const std::lock_guard lock(m_mutex);
                chunk = m_reply;
                total = m_total;
                period = m_period;
            }
            // Whole periods of the pattern fit in the chunk; each write starts at a period.
            const qsizetype usable = std::max<qsizetype>(period, chunk.size() / period * period);
            for (qsizetype sent = 0; sent < total;) {
                const qsizetype offset = sent % period;
                const qsizetype n = std::min(total - sent, usable - offset);
                const ssize_t written = ::write(connection, chunk.constData() + offset, size_t(n));
                if (written <= 0)
                    break;
                sent += written;
            }
            ::shutdown(connection, SHUT_WR);
            // Wait for the client's own close so nothing unread turns into a reset.
            while (::read(connection, &byte, 1) > 0) {
            }
            ::close(connection);
        }
    }

    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping {false};
    std::mutex m_mutex;
    QByteArray m_reply;
    qsizetype m_total = 0;
    qsizetype m_period = 1;
};

// One short query through the window, as a user starts it; milliseconds from
// the click to the busy pointer going off.
double timeQuery(finger& window)
{
    QEventLoop loop;
    QElapsedTimer timer;
    double elapsed = -1;
    bool idleAtEnd = false;
    // Connected after the client's own handlers, so this runs right after they have.
    const auto finished = [&] {
        elapsed = timer.nsecsElapsed() / 1e6;
        idleAtEnd = !window.isBusy();
        loop.quit();
    };
    const QMetaObject::Connection done = QObject::connect(window.finger_socket, &SocketComponent::Disconnect, &loop,
                                                          finished);
    const QMetaObject::Connection failed = QObject::connect(window.finger_socket, &SocketComponent::LastError, &loop,
                                                            finished);
    // A reply that stalls ends with a time-out; without this the run would wait forever.
    const QMetaObject::Connection stalled = QObject::connect(window.finger_socket, &SocketComponent::Timeout, &loop,
                                                             finished);
    timer.start();
    window.Command1->click();
    loop.exec();
    QObject::disconnect(done);
    QObject::disconnect(failed);
    QObject::disconnect(stalled);
    if (!idleAtEnd || window.statusText() != QStringLiteral("Finger Quobix 2.1")) {
        std::printf("query did not end normally: %s\n", qPrintable(window.statusText()));
        return -1;
    }
    return elapsed;
}

// A query whatever way it ends (a reply past the client's limit is cut):
// milliseconds from the click to the busy pointer going off.
double runQuery(finger& window)
{
    QElapsedTimer timer;
    timer.start();
    window.Command1->click();
    while (window.isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return timer.nsecsElapsed() / 1e6;
}

// kB from /proc/self/status ("VmRSS", "VmHWM").
long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field)) + 1).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

struct Shape
{
    const char* name;
    QByteArray pattern;
};

QList<Shape> shapes()
{
    const QByteArray utf8Line = QByteArray("Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln \xe2\x80\x94 \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2"
                                           "\xd0\xb5\xd1\x82 \xe4\xbd\xa0\xe5\xa5\xbd\xe4\xb8\x96\xe7\x95\x8c "
                                           "caf\xc3\xa9 na\xc3\xafve \xf0\x9f\x98\x80 plain ASCII words to fill the line\r\n");
    return {{"bare LF", "\n"}, {"bare CR", "\r"}, {"CR LF", "\r\n"}, {"one long line", "x"}, {"UTF-8 text", utf8Line}};
}

constexpr qsizetype kShapeBytes = 64LL << 20;

// In a process of its own, so each shape's peak is its own: the idle
// program, then one 64 MiB reply shown, scrolled and looked up at random.
int measureShape(finger& window, ReplyServer& server, const Shape& shape)
{
    server.setReply("Login: idle\r\n");
    runQuery(window);
    window.text1->viewport()->repaint();
    const long idle = statusKb("VmRSS:");
    // Peak counting starts from here.
    if (QFile clear(QStringLiteral("/proc/self/clear_refs")); clear.open(QIODevice::WriteOnly))
        clear.write("5");

    server.setReply(shape.pattern, kShapeBytes);
    const double arrival = runQuery(window);
    ReplyBox& box = *window.text1;
    box.viewport()->repaint();
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    box.viewport()->repaint();

    std::mt19937_64 random(7);
    const qsizetype lines = box.lineCount();
    QElapsedTimer timer;
    timer.start();
    qsizetype sum = 0;
    constexpr int kLookups = 100000;
    for (int i = 0; i < kLookups; ++i)
        sum += box.lineOf(qsizetype(random() % quint64(box.length() + 1)));
    const double lineOfNs = timer.nsecsElapsed() / double(kLookups);
    timer.restart();
    for (int i = 0; i < kLookups; ++i)
        sum += box.lineStart(qsizetype(random() % quint64(lines)));
    const double lineStartNs = timer.nsecsElapsed() / double(kLookups);
    constexpr int kPaints = 100;
    timer.restart();
    for (int i = 0; i < kPaints; ++i) {
        box.verticalScrollBar()->setValue(int(random() % quint64(box.verticalScrollBar()->maximum() + 1)));
        box.horizontalScrollBar()->setValue(int(random() % quint64(box.horizontalScrollBar()->maximum() + 1)));
        box.viewport()->repaint();
    }
    const double paintMs = timer.nsecsElapsed() / 1e6 / kPaints;
    const long peak = statusKb("VmHWM:");
    std::printf("shape %ld %ld %.1f %.1f %.1f %.3f %lld %lld %lld\n", idle, peak, arrival, lineOfNs, lineStartNs, paintMs,
                qlonglong(box.length()), qlonglong(lines), qlonglong(sum % 2));
    return 0;
}

void reportShapes()
{
    std::printf("\n64 MiB replies, each shape in a process of its own (budget: idle + 2 x the reply = idle + 128 MiB)\n");
    std::printf("%-14s %8s %8s %9s %9s %9s %9s %9s %10s  %s\n", "shape", "idle MB", "peak MB", "over idle", "arrive ms",
                "lineOf ns", "lineStart", "paint ms", "lines", "");
    const QList<Shape> all = shapes();
    for (qsizetype i = 0; i < all.size(); ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--shape"), QString::number(i)});
        if (!child.waitForFinished(300000)) {
            std::printf("%-14s did not finish\n", all[i].name);
            continue;
        }
        QList<QByteArray> fields;
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("shape "))
                fields = line.split(' ');
        }
        if (fields.size() < 10) {
            std::printf("%-14s gave no figures\n", all[i].name);
            continue;
        }
        const double idle = fields[1].toDouble() / 1024;
        const double peak = fields[2].toDouble() / 1024;
        const double budget = 2.0 * double(kShapeBytes) / (1 << 20);
        std::printf("%-14s %8.1f %8.1f %9.1f %9.1f %9.1f %9.1f %9.3f %10s  %s\n", all[i].name, idle, peak, peak - idle,
                    fields[3].toDouble(), fields[4].toDouble(), fields[5].toDouble(), fields[6].toDouble(),
                    fields[8].constData(), peak - idle <= budget ? "within budget" : "OVER BUDGET");
    }
}

// socat reading the reply to /dev/null: milliseconds from its start to its end.
double timeSocat(const QString& socat, quint16 port)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(socat, {QStringLiteral("-t"), QStringLiteral("5"), QStringLiteral("-"),
                          QStringLiteral("TCP:127.0.0.1:%1").arg(port)});
    if (!process.waitForStarted())
        return -1;
    process.write("\r\n");
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

double best(const std::vector<double>& runs)
{
    return *std::min_element(runs.begin(), runs.end());
}

double median(std::vector<double> runs)
{
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

void report(const char* what, const std::vector<double>& runs)
{
    std::printf("%-52s best %8.1f ms   median %8.1f ms\n", what, best(runs), median(runs));
}
} // namespace

int main(int argc, char** argv)
{
    const Bench::PrivateSettings settings;
    Bench::offscreenUnlessSet();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QuietPlatform services;
    setPlatform(&services);

    ReplyServer server;
    const int shapeIndex = argc == 3 && qstrcmp(argv[1], "--shape") == 0 ? std::atoi(argv[2]) : -1;
    // --ratio N: only the 10 MiB comparison with socat, N runs each, taken in turn.
    const bool ratioOnly = argc == 3 && qstrcmp(argv[1], "--ratio") == 0;
    const int kRuns = ratioOnly ? std::max(1, std::atoi(argv[2])) : 5;

    RuntimeConfig config;
    config.client.portMap.insert(RuntimeConfig::kFingerPort, server.port());
    config.server.listenAddress = QHostAddress::LocalHost;
    config.server.portMap.insert(RuntimeConfig::kFingerPort, 0);
    Form1 tray(config);
    tray.trayShowsMenu = false;
    tray.quit = [] {};
    tray.Form_Load();
    finger& window = *tray.mainWindow();
    window.text2->lineEdit()->setText(QStringLiteral("127.0.0.1"));
    QApplication::processEvents();
    if (shapeIndex >= 0) {
        const int result = measureShape(window, server, shapes().value(shapeIndex));
        tray.Form_QueryUnload();
        setPlatform(nullptr);
        return result;
    }

    // 10 MiB of 80-character lines.
    QByteArray lines;
    lines.reserve(10 << 20);
    while (lines.size() < (10 << 20))
        lines += QByteArray(78, char('a' + lines.size() % 26)) + "\r\n";
    lines.truncate(10 << 20);
    server.setReply(lines);

    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    std::vector<double> client;
    std::vector<double> reference;
    for (int run = 0; run < kRuns; ++run) {
        client.push_back(timeQuery(window));
        if (window.text1->data() != lines)
            std::printf("reply box does not hold the reply exactly\n");
        if (!socat.isEmpty())
            reference.push_back(timeSocat(socat, server.port()));
    }
    report("10 MiB of 80-char lines: query start to idle", client);
    // Later queries reuse the room the first one reserved; the first fills fresh memory.
    std::printf("%-52s %8.1f ms\n", "  the first query alone (fresh memory)", client.front());
    if (!reference.empty()) {
        report("10 MiB of 80-char lines: socat - TCP:... > /dev/null", reference);
        std::printf("%-52s %.2f (goal: at most 1.2)\n", "  ratio of medians", median(client) / median(reference));
    } else {
        std::printf("socat is not installed: no reference time\n");
    }
    if (ratioOnly) {
        tray.Form_QueryUnload();
        setPlatform(nullptr);
        return 0;
    }

    // One 4 MiB line without a break: arrival, then painting the view.
    const QByteArray line(4 << 20, 'x');
    server.setReply(line);
    std::vector<double> arrived;
    std::vector<double> shown;
    std::vector<double> shownAtEnd;
    for (int run = 0; run < kRuns; ++run) {
        const double queryMs = timeQuery(window);
        QElapsedTimer paint;
        paint.start();
        window.text1->viewport()->repaint();
        const double paintMs = paint.nsecsElapsed() / 1e6;
        arrived.push_back(queryMs);
        shown.push_back(queryMs + paintMs);
        paint.restart();
        window.text1->horizontalScrollBar()->setValue(window.text1->horizontalScrollBar()->maximum());
        window.text1->viewport()->repaint();
        shownAtEnd.push_back(paint.nsecsElapsed() / 1e6);
        if (window.text1->data() != line)
            std::printf("reply box does not hold the line exactly\n");
    }
    report("4 MiB line: query start to idle", arrived);
    report("4 MiB line: query start to painted (goal 500 ms)", shown);
    report("4 MiB line: scroll to its end and paint", shownAtEnd);

    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%-52s %8.1f MB (goal: under 200 MB; includes the in-process server's 14 MiB)\n",
                "peak memory (ru_maxrss)", usage.ru_maxrss / 1024.0);

    reportShapes();

    tray.Form_QueryUnload();
    setPlatform(nullptr);
    return 0;
}
