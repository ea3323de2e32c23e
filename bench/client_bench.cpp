// Prints how fast the finger client takes in large replies from a loopback
// server, next to socat reading the same reply, and the peak memory.
#include "BenchSupport.h"

#include "app/Config.h"
#include "shell/Form1.h"
#include "app/Platform.h"
#include "app/PrinterDevice.h"
#include "reply/ReplyBox.h"
#include "shell/finger.h"
#include "net/SocketComponent.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
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

    void setReply(const QByteArray& reply)
    {
        const std::lock_guard lock(m_mutex);
        m_reply = reply;
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
            QByteArray reply;
            {
                const std::lock_guard lock(m_mutex);
                reply = m_reply;
            }
            for (qsizetype sent = 0; sent < reply.size();) {
                const ssize_t n = ::write(connection, reply.constData() + sent, size_t(reply.size() - sent));
                if (n <= 0)
                    break;
                sent += n;
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
    // Never touch the real user's settings.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    Bench::offscreenUnlessSet();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QuietPlatform services;
    setPlatform(&services);

    constexpr int kRuns = 5;
    ReplyServer server;

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
    if (!reference.empty()) {
        report("10 MiB of 80-char lines: socat - TCP:... > /dev/null", reference);
        std::printf("%-52s %.2f (goal: at most 3)\n", "  ratio of medians", median(client) / median(reference));
    } else {
        std::printf("socat is not installed: no reference time\n");
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

    tray.Form_QueryUnload();
    setPlatform(nullptr);
    return 0;
}
