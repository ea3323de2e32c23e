#include "TestMain.h"
#include "client/FingerTarget.h"

#include <QTest>

class FingerTargetTest : public QObject
{
    Q_OBJECT

private slots:
    // host is null where no query may run; said is a piece of the text or error the user sees.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("said");
        const QString none;

        QTest::newRow("no link: only start") << QStringList{} << 0 << none << none << "";
        QTest::newRow("link with user") << QStringList{"finger://host.example/joe"} << 0 << "host.example" << "joe" << "";
        QTest::newRow("link without user") << QStringList{"finger://host.example"} << 0 << "host.example" << "" << "";
        QTest::newRow("link with empty user") << QStringList{"finger://host.example/"} << 0 << "host.example" << "" << "";
        QTest::newRow("%2FW reaches the long form") << QStringList{"finger://host.example/%2FWjoe"} << 0 << "host.example"
                                          << "/Wjoe" << "";
        QTest::newRow("link to port 79 written out") << QStringList{"finger://host.example:79/joe"} << 0 << "host.example"
                                           << "joe" << "";
        QTest::newRow("IPv6 link") << QStringList{"finger://[::1]/joe"} << 0 << "::1" << "joe" << "";
        QTest::newRow("IPv6 in brackets after @") << QStringList{"joe@[::1]"} << 0 << "::1" << "joe" << "";
        QTest::newRow("USER@HOST") << QStringList{"joe@host.example"} << 0 << "host.example" << "joe" << "";
        QTest::newRow("@HOST") << QStringList{"@host.example"} << 0 << "host.example" << "" << "";
        QTest::newRow("forwarding: the last @ names the host")
            << QStringList{"joe@a.example@b.example"} << 0 << "b.example" << "joe@a.example" << "";
        QTest::newRow("Qt's own options pass") << QStringList{"-platform", "offscreen", "@host.example"} << 0
                                     << "host.example" << "" << "";

        QTest::newRow("line break in the user") << QStringList{"finger://host.example/joe%0D%0Aann"} << 0 << none << none
                                      << "line break";
        QTest::newRow("another port") << QStringList{"finger://host.example:7979/joe"} << 0 << none << none << "port 79";
        QTest::newRow("bare host") << QStringList{"host.example"} << 0 << none << none << "write finger://HOST/USER";
        QTest::newRow("other scheme") << QStringList{"http://host.example/joe"} << 0 << none << none << "write";
        QTest::newRow("finger: without //") << QStringList{"finger:host.example"} << 0 << none << none << "write";
        QTest::newRow("host missing") << QStringList{"joe@"} << 0 << none << none << "host name is missing";
        QTest::newRow("host missing in a link") << QStringList{"finger:///joe"} << 0 << none << none << "missing";
        QTest::newRow("blank in the host") << QStringList{"joe@bad host"} << 0 << none << none << "not valid";
        QTest::newRow("NUL after an IP literal") << QStringList{QString("joe@127.0.0.1") + QChar(0) + "evil.example"}
                                                 << 0 << none << none << "joe@127.0.0.1\u2400evil.example\": the host name is not valid";
        QTest::newRow("tab in the host") << QStringList{"@127.0.0.1\tx"} << 0 << none << none << "not valid";
        QTest::newRow("NUL in a link's host") << QStringList{"finger://127.0.0.1%00evil.example/joe"} << 0 << none
                                              << none << "not valid";
        QTest::newRow("second path part") << QStringList{"finger://host.example/a/b"} << 0 << none << none << "at most";
        QTest::newRow("query part") << QStringList{"finger://host.example/joe?x=1"} << 0 << none << none << "at most";

        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << none << none << "Unknown option 'bogus'";
        QTest::newRow("two links") << QStringList{"@a.example", "@b.example"} << 2 << none << none << "one link at most";
        QTest::newRow("help") << QStringList{"--help"} << 0 << none << none << "Usage: finger-quobix [options] [link]";
        QTest::newRow("version") << QStringList{"--version"} << 0 << none << none << "Finger Quobix 2.2\n";
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, host);
        QFETCH(QString, user);
        QFETCH(QString, said);
        const CommandLine line = parseCommandLine(QStringList{"/usr/bin/finger-quobix"} + arguments);
        QCOMPARE(line.exitCode(), exitCode);
        QCOMPARE(line.target.has_value(), !host.isNull());
        if (line.target)
            QCOMPARE(*line.target, (FingerTarget{host, user}));
        QVERIFY2((line.text + line.error).contains(said), qPrintable(line.text + line.error));
        // Only a start runs anything; a refused link is named in its report.
        QCOMPARE(line.action == CommandLine::Action::Start, exitCode == 0 && !said.contains("Usage")
                                                                && !said.startsWith("Finger Quobix"));
        if (line.action == CommandLine::Action::Start && !line.target && !arguments.isEmpty())
            QVERIFY(line.error.contains(visibleControls(arguments.constLast())));
    }
};

static TestRegistration<FingerTargetTest> registration;
#include "FingerTargetTest.moc"
