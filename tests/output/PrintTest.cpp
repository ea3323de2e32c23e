#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "RecordingPrinter.h"
#include "TestMain.h"
#include "../client/ClientHarness.h"
#include "output/Transcript.h"
#include "reply/ReplyBox.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

namespace {
// Lines "L1" to "Ln", each ended by CR LF, then a final piece.
QByteArray numberedLines(int count, const QByteArray& last = "end")
{
    QByteArray body;
    for (int i = 1; i <= count; ++i)
        body += "L" + QByteArray::number(i) + "\r\n";
    return body + last;
}

// Body lines are the ones printed in the 10-point body font after a page's rule.
QList<PrintOp> bodyLines(const PrintLog& log)
{
    QList<PrintOp> lines;
    bool belowRule = false;
    for (const PrintOp& op : log.ops) {
        if (op.kind == PrintOp::Line)
            belowRule = true;
        else if (op.kind == PrintOp::NewPage)
            belowRule = false;
        else if (belowRule && op.kind == PrintOp::Text && op.size == 10)
            lines.append(op);
    }
    return lines;
}

// Header lines are the ones printed in the 7-point header font.
QList<PrintOp> headerLines(const PrintLog& log)
{
    QList<PrintOp> lines;
    for (const PrintOp& op : log.of(PrintOp::Text)) {
        if (op.size == 7)
            lines.append(op);
    }
    return lines;
}
} // namespace

class PrintTest : public ProgramTest
{
    Q_OBJECT

    PrintLog m_log;

private slots:
    void init()
    {
        resetEnvironment();
        m_log = PrintLog();
        installRecordingPrinter(m_log);
        launch();
        window().text1->clear();
    }
    void cleanup()
    {
        m_program.reset();
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // The first page's operations in order: margin, blank line, header, rule, body.
    void firstPageLayout()
    {
        window().text2->setCurrentText(QStringLiteral("example.org"));
        window().text1->setText(QStringLiteral("one\r\ntwo"));

        window().mnuPrint->trigger();

        QVERIFY(m_log.has(PrintOp::Quality));
        QCOMPARE(m_log.of(PrintOp::Copies).first().value, 1.0);
        const QList<PrintOp> texts = m_log.of(PrintOp::Text);
        QCOMPARE(texts.size(), 6);
        // The blank line above the header keeps the printer's own font, a margin's height down.
        QCOMPARE(texts[0].text, QString());
        QCOMPARE(texts[0].y, (RecordingPrinter::kPageHeight - RecordingPrinter::kPrintableHeight) / 2);
        QCOMPARE(texts[0].face, RecordingPrinter::kStartFace);
        QCOMPARE(texts[0].size, RecordingPrinter::kStartSize);
        // The header: 7-point bold italic, the face still the printer's own on page 1.
        QVERIFY(texts[1].text.endsWith(QLatin1String("example.org -:- Finger Quobix v2.2 -:- Page 1")));
        QCOMPARE(texts[1].y, 360 + RecordingPrinter::heightAt(12));
        QCOMPARE(texts[1].face, RecordingPrinter::kStartFace);
        QVERIFY(texts[1].bold && texts[1].italic && !texts[1].underline);
        // Two-point spacing lines around a five-dot black rule across the printable width.
        QCOMPARE(texts[2].text, QString());
        QCOMPARE(texts[2].size, 2.0);
        const PrintOp rule = m_log.of(PrintOp::Line).first();
        const double yAfterSpacing = texts[2].y + RecordingPrinter::heightAt(2);
        QCOMPARE(rule.line, QLineF(0, qRound(yAfterSpacing - RecordingPrinter::heightAt(2) / 4), 11520,
                                   qRound(yAfterSpacing - RecordingPrinter::heightAt(2) / 4)));
        QCOMPARE(rule.lineWidth, 5);
        QCOMPARE(rule.color, qRgb(0, 0, 0));
        QCOMPARE(texts[3].text, QString());
        QCOMPARE(texts[3].y, yAfterSpacing);
        QCOMPARE(texts[3].size, 2.0);
        // Body lines in plain 10-point Arial, each from x = 0.
        for (int i : {4, 5}) {
            QCOMPARE(texts[i].face, QStringLiteral("Arial"));
            QCOMPARE(texts[i].size, 10.0);
            QVERIFY(!texts[i].bold && !texts[i].italic && !texts[i].underline);
            QCOMPARE(texts[i].x, 0.0);
        }
        QCOMPARE(texts[4].text, QStringLiteral("one"));
        QCOMPARE(texts[5].text, QStringLiteral("two"));
        QCOMPARE(texts[5].y, texts[4].y + RecordingPrinter::heightAt(10));
        QCOMPARE(m_log.ops.last().kind, PrintOp::End);
        QVERIFY(!m_log.has(PrintOp::Abort));
        QVERIFY(recordingPlatform().boxes.isEmpty());
    }

    void headerSubjectAndPadding_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("document");
        const QString tail = QStringLiteral(" -:- Finger Quobix v2.2 -:- Page 1");
        QTest::newRow("host only") << "example.org" << "" << "example.org" + tail << "Finger Quobix - example.org";
        QTest::newRow("host and user") << "example.org" << "bob" << "example.org : User : bob" + tail
                                       << "Finger Quobix - example.org";
        QTest::newRow("user only") << "" << "bob" << " : User : bob" + tail << "Finger Quobix";
        QTest::newRow("neither") << "" << "" << "Finger Quobix v2.2 -:- Page 1" << "Finger Quobix";
        const QString ninety = QString(90, QLatin1Char('h'));
        QTest::newRow("90 characters printed whole") << ninety << "" << ninety + tail << "Finger Quobix - " + ninety;
        QTest::newRow("91 characters cut") << ninety + "X" << "" << QString(85, QLatin1Char('h')) + "...." + tail
                                           << "Finger Quobix - " + ninety + "X";
        QTest::newRow("long subject made of host and user")
            << QString(80, QLatin1Char('h')) << "bob" << QString(80, QLatin1Char('h')) + " : Us...." + tail
            << "Finger Quobix - " + QString(80, QLatin1Char('h'));
    }
    void headerSubjectAndPadding()
    {
        QFETCH(QString, host);
        QFETCH(QString, user);
        QFETCH(QString, header);
        QFETCH(QString, document);
        window().text2->setCurrentText(host);
        window().Text3->setText(user);
        window().text1->setText(QStringLiteral("body"));

        window().transcript().mnuPrint_Click();

        const QList<PrintOp> headers = headerLines(m_log);
        QCOMPARE(headers.size(), 1);
        const QString printed = headers.first().text;
        QCOMPARE(printed.trimmed(), header.trimmed());
        // Blanks go in front while 10800 twips (page less four margins) exceed a
        // margin plus the text: at 84 twips a character that stops at 125 characters.
        QCOMPARE(printed.size(), std::max<qsizetype>(header.size(), 125));
        QVERIFY(printed.endsWith(header));
        // The job carries its name in the print queue.
        const QList<PrintOp> named = m_log.of(PrintOp::DocName);
        QCOMPARE(named.size(), 1);
        QCOMPARE(named.first().text, document);
    }

    // Once a query has run, the header names where the reply came from, not what
    // the boxes were changed to since; a query refused for want of a host changes nothing.
    void headerNamesTheQueryWhoseReplyIsShown()
    {
        ScriptedServer server;
        launch(clientConfig(server.port()));
        finger& w = window();
        User::typeHost(w, "127.0.0.1");
        User::typeUser(w, "bob");
        User::clickShort(w);
        QTRY_COMPARE(server.received, QByteArray("bob\r\n"));
        server.send("Login: bob\r\n");
        server.close();
        QTRY_VERIFY(!w.isBusy());
        User::typeHost(w, "elsewhere.example");
        User::typeUser(w, "ann");
        w.text2->lineEdit()->clear();
        User::clickShort(w);
        User::typeHost(w, "elsewhere.example");

        w.mnuPrint->trigger();

        const QList<PrintOp> headers = headerLines(m_log);
        QCOMPARE(headers.size(), 1);
        QVERIFY2(headers.first().text.endsWith(QLatin1String("127.0.0.1 : User : bob -:- Finger Quobix v2.2 -:- Page 1")),
                 qPrintable(headers.first().text));
        QCOMPARE(m_log.of(PrintOp::DocName).first().text, QStringLiteral("Finger Quobix - 127.0.0.1"));
        QCOMPARE(bodyLines(m_log).first().text, QStringLiteral("Login: bob"));
    }

    void linesPerPage_data()
    {
        QTest::addColumn<int>("crs");
        QTest::addColumn<int>("pages");
        QTest::newRow("no CR") << 0 << 1;
        QTest::newRow("68 CRs and the final piece fit on page 1") << 68 << 1;
        QTest::newRow("69 CRs open page 2") << 69 << 2;
        QTest::newRow("137 CRs: page 2 holds 69 lines") << 137 << 2;
        QTest::newRow("138 CRs open page 3") << 138 << 3;
    }
    void linesPerPage()
    {
        QFETCH(int, crs);
        QFETCH(int, pages);
        window().text2->setCurrentText(QStringLiteral("example.org"));
        window().text1->append(numberedLines(crs));

        window().mnuPrint->trigger();

        QCOMPARE(m_log.of(PrintOp::NewPage).size(), pages - 1);
        const QList<PrintOp> lines = bodyLines(m_log);
        QCOMPARE(lines.size(), crs + 1);
        for (int i = 0; i < crs; ++i) {
            const int number = i + 1;
            const int expectedPage = number <= 68 ? 1 : 2 + (number - 69) / 69;
            QCOMPARE(lines[i].text, QStringLiteral("L%1").arg(number));
            QCOMPARE(lines[i].page, expectedPage);
        }
        QCOMPARE(lines.last().text, QStringLiteral("end"));
        QCOMPARE(lines.last().page, pages);

        const QList<PrintOp> headers = headerLines(m_log);
        QCOMPARE(headers.size(), pages);
        for (int page = 1; page <= pages; ++page) {
            QVERIFY(headers[page - 1].text.endsWith(QStringLiteral("-:- Page %1").arg(page)));
            QCOMPARE(headers[page - 1].page, page);
            // Later pages inherit the body face for their header.
            QCOMPARE(headers[page - 1].face, page == 1 ? RecordingPrinter::kStartFace : QStringLiteral("Arial"));
        }
        QCOMPARE(m_log.ops.last().kind, PrintOp::End);
    }

    void loneCrEndsItsLineWithoutEatingTheNextAndAFinalCrEndsTheLastLine_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("lone CR, CR LF, final CR")
            << QByteArray("abc\rXdef\r\nghi\n\r") << QStringList{"abc", "Xdef", "ghi\n", ""};
        QTest::newRow("lone CR before a CR LF") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("a UTF-8 reply prints as UTF-8")
            << QByteArray("Gr\xc3\xbc\xc3\x9f" "e\r\n\xe2\x82\xac 5") << QStringList{"Grüße", "€ 5"};
    }
    void loneCrEndsItsLineWithoutEatingTheNextAndAFinalCrEndsTheLastLine()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, lines);
        window().text1->beginReply();
        window().text1->append(body);
        window().text1->endReply();

        window().mnuPrint->trigger();

        QStringList texts;
        for (const PrintOp& op : bodyLines(m_log))
            texts.append(op.text);
        QCOMPARE(texts, lines);
        QCOMPARE(m_log.ops.last().kind, PrintOp::End);
        QVERIFY(recordingPlatform().boxes.isEmpty());
    }

    // Events run during the run: they see the status text and the hourglass,
    // a second request is refused, and later replies do not join the printout.
    void runShowsItsStateAndRefusesASecondRequest()
    {
        window().setStatusText(QStringLiteral("Finger Quobix 2.1"));
        window().text1->append(numberedLines(3));
        bool ranDuringPrint = false;
        QTimer::singleShot(0, &window(), [&] {
            ranDuringPrint = true;
            QCOMPARE(window().statusText(), QStringLiteral("Printing Message..."));
            QVERIFY(QApplication::overrideCursor());
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            QVERIFY(window().transcript().isPrinting());
            window().mnuFile_Click();
            QVERIFY(!window().mnuPrint->isEnabled());
            window().transcript().mnuPrint_Click();
            window().text1->append(QByteArray("late\r\n"));
        });

        window().mnuPrint->trigger();

        QVERIFY(ranDuringPrint);
        QCOMPARE(m_log.devicesMade, 1);
        QCOMPARE(bodyLines(m_log).size(), 4);
        QVERIFY(!m_log.printedTexts().contains(QStringLiteral("late")));
        QCOMPARE(window().statusText(), QStringLiteral("Finger Quobix 2.1"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(!window().transcript().isPrinting());
        window().mnuFile_Click();
        QVERIFY(window().mnuPrint->isEnabled());
    }

    void failures_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<int>("failing");
        QTest::addColumn<int>("crs");
        QTest::addColumn<QString>("message"); // empty: the run goes on and no box shows
        const QString paper = QStringLiteral("The printer is out of paper.");
        QTest::newRow("no printer installed") << false << -1 << 0 << "No printer is installed.";
        QTest::newRow("quality refused") << true << int(PrintOp::Quality) << 0 << paper;
        QTest::newRow("font refused") << true << int(PrintOp::FontName) << 0 << paper;
        QTest::newRow("header size refused") << true << int(PrintOp::FontSize) << 0 << paper;
        QTest::newRow("new page refused") << true << int(PrintOp::NewPage) << 69 << paper;
        QTest::newRow("end refused") << true << int(PrintOp::End) << 2 << paper;
        QTest::newRow("a failing line is skipped") << true << int(PrintOp::Text) << 2 << "";
        QTest::newRow("a failing rule is skipped") << true << int(PrintOp::Line) << 2 << "";
    }
    void failures()
    {
        QFETCH(bool, installed);
        QFETCH(int, failing);
        QFETCH(int, crs);
        QFETCH(QString, message);
        if (!installed)
            recordingPlatform().printerFactory = nullptr;
        else
            m_log.failing.insert(PrintOp::Kind(failing));
        window().setStatusText(QStringLiteral("before"));
        window().text1->append(numberedLines(crs));

        window().mnuPrint->trigger();

        QCOMPARE(window().statusText(), QStringLiteral("before"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(!window().transcript().isPrinting());
        if (message.isEmpty()) {
            QVERIFY(recordingPlatform().boxes.isEmpty());
            QCOMPARE(m_log.ops.last().kind, PrintOp::End);
            QCOMPARE(bodyLines(m_log).size(), crs + 1);
            return;
        }
        QCOMPARE(recordingPlatform().boxes.size(), 1);
        const RecordingPlatform::Box box = recordingPlatform().boxes.first();
        QCOMPARE(box.text, message);
        QCOMPARE(box.caption, QStringLiteral("Print Error"));
        QCOMPARE(box.icon, Platform::Icon::Critical);
        QCOMPARE(box.buttons, Platform::Buttons::Ok);
        if (installed) {
            // The job cut short is cancelled, and nothing is printed after the failure.
            QCOMPARE(m_log.ops.last().kind, PrintOp::Abort);
            qsizetype failedAt = -1;
            for (qsizetype i = 0; i < m_log.ops.size() && failedAt < 0; ++i) {
                if (m_log.ops[i].failed)
                    failedAt = i;
            }
            QCOMPARE(failedAt, m_log.ops.size() - 2);
        }
    }
};

static TestRegistration<PrintTest> registration;
#include "PrintTest.moc"
