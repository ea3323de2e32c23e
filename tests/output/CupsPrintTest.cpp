#include "ProgramHarness.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/PrinterDevice.h"
#include "app/QtPlatform.h"
#include "reply/ReplyBox.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// Prints through a real CUPS queue: a private cupsd started here, in a
// folder of its own, with a raw queue as the default printer. Its own
// executable, so CUPS is first asked after CUPS_SERVER names that cupsd.
class CupsPrintTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_cupsd;
    QString m_socket;

    bool run(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(30000) && process.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), {"/usr/sbin", "/sbin"});
        const QString lpadmin = QStandardPaths::findExecutable(QStringLiteral("lpadmin"), {"/usr/sbin", "/sbin"});
        if (cupsd.isEmpty() || lpadmin.isEmpty())
            QSKIP("CUPS (cupsd, lpadmin) is not installed; scripts/install-deps.sh --tests installs it");
#ifdef Q_OS_UNIX
        if (::geteuid() != 0)
            QSKIP("a private cupsd needs root here (it drops to its own user for the queue)");
#endif
        QVERIFY(m_dir.isValid());
        const QDir root(m_dir.path());
        // cupsd works as its own user below this folder.
        QFile::setPermissions(root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                               | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        for (const char* folder : {"etc/ppd", "spool", "cache", "state", "log"})
            QVERIFY(root.mkpath(folder));
        QFile::setPermissions(root.filePath("spool"), QFile::Permissions(0x7777));
        m_socket = root.filePath("cups.sock");
        QFile conf(root.filePath("etc/cupsd.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("Listen " + QFile::encodeName(m_socket) + "\nLogLevel warn\nWebInterface No\nBrowsing No\n"
                   "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n");
        conf.close();
        QFile files(root.filePath("etc/cups-files.conf"));
        QVERIFY(files.open(QIODevice::WriteOnly));
        const QByteArray at = QFile::encodeName(root.path());
        files.write("ServerRoot " + at + "/etc\nRequestRoot " + at + "/spool\nCacheDir " + at + "/cache\nStateDir " + at
                    + "/state\nTempDir " + at + "/spool\nErrorLog " + at + "/log/error_log\nAccessLog " + at
                    + "/log/access_log\nPageLog " + at + "/log/page_log\nFileDevice Yes\n");
        files.close();

        m_cupsd.setWorkingDirectory(root.path());
        m_cupsd.start(cupsd, {"-f", "-c", root.filePath("etc/cupsd.conf"), "-s", root.filePath("etc/cups-files.conf")});
        QVERIFY(m_cupsd.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_socket), 10000);
        QVERIFY(run(lpadmin, {"-h", m_socket, "-p", "quobix", "-E", "-v", "file:///dev/null", "-m", "raw"}));
        QVERIFY(run(lpadmin, {"-h", m_socket, "-d", "quobix"}));
        qputenv("CUPS_SERVER", QFile::encodeName(m_socket));
    }

    void cleanupTestCase()
    {
        if (m_cupsd.state() != QProcess::NotRunning) {
            m_cupsd.terminate();
            if (!m_cupsd.waitForFinished(10000))
                m_cupsd.kill();
        }
    }

    void jobIsNamedAfterProgramAndHost()
    {
        TestSupport::clearSettings();
        freshPlatform().printerFactory = []() -> std::unique_ptr<PrinterDevice> {
            QString error;
            return QtPlatform().defaultPrinter(&error);
        };
        auto program = TestSupport::startProgram();
        program->window().text2->setCurrentText(QStringLiteral("example.org"));
        program->window().text1->setText(QStringLiteral("hello\r\n"));

        program->window().mnuPrint->trigger();

        QVERIFY2(recordingPlatform().boxes.isEmpty(), qPrintable(recordingPlatform().boxTexts().join('\n')));
        // The queue keeps each job's attributes in its control file.
        QFile control(QDir(m_dir.path()).filePath("spool/c00001"));
        QTRY_VERIFY_WITH_TIMEOUT(control.exists(), 10000);
        QVERIFY(control.open(QIODevice::ReadOnly));
        QVERIFY(control.readAll().contains("Finger Quobix - example.org"));
    }
};

static TestRegistration<CupsPrintTest> registration;
#include "CupsPrintTest.moc"
