#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/QtPrinterDevice.h"
#include "reply/ReplyBox.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {
QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The longest run of dark pixels in any row: a rule across the page, not text.
int longestDarkRun(const QImage& image)
{
    int longest = 0;
    for (int y = 0; y < image.height(); ++y) {
        int run = 0;
        for (int x = 0; x < image.width(); ++x) {
            run = qGray(image.pixel(x, y)) < 128 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return longest;
}

// A high-resolution printer writing a PDF file.
std::unique_ptr<QPrinter> pdfPrinter(const QString& pdf)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    return printer;
}
} // namespace

// Prints through a real QPrinter into a PDF and reads it back with poppler's tools.
class PdfPrintTest : public ProgramTest
{
    Q_OBJECT

    // From a fresh start, prints go into a PDF at that path: on that paper with
    // quarter-inch margins, or as the printer comes.
    void printIntoPdf(const QString& pdf, std::optional<QPageSize::PageSizeId> paper = std::nullopt)
    {
        resetEnvironment().printerFactory = [pdf, paper]() -> std::unique_ptr<PrinterDevice> {
            auto printer = pdfPrinter(pdf);
            if (paper) {
                printer->setPageSize(QPageSize(*paper));
                printer->setPageMargins(QMarginsF(6.35, 6.35, 6.35, 6.35), QPageLayout::Millimeter);
            }
            return std::make_unique<QtPrinterDevice>(std::move(printer));
        };
    }

private slots:
    void printoutHasHeadersRuleAndBodyLines()
    {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        const QString pdffonts = QStandardPaths::findExecutable(QStringLiteral("pdffonts"));
        const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
        if (pdftotext.isEmpty() || pdftoppm.isEmpty() || pdffonts.isEmpty() || pdfinfo.isEmpty())
            QSKIP("poppler-utils (pdftotext, pdftoppm, pdffonts, pdfinfo) is not installed; scripts/install-deps.sh "
                  "--tests installs it");

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pdf = dir.filePath(QStringLiteral("transcript.pdf"));
        printIntoPdf(pdf, QPageSize::A4);
        auto program = TestSupport::startProgram();
        finger& window = program->window();
        window.text2->setCurrentText(QStringLiteral("example.org"));
        window.Text3->setText(QStringLiteral("bob"));
        window.text1->clear();
        QByteArray body;
        for (int i = 1; i <= 70; ++i)
            body += QStringLiteral("Line %1 of the reply\r\n").arg(i, 3, 10, QLatin1Char('0')).toLatin1();
        window.text1->append(body + "Last piece");

        window.mnuPrint->trigger();

        QVERIFY2(recordingPlatform().boxes.isEmpty(), qPrintable(recordingPlatform().boxTexts().join('\n')));
        QVERIFY(QFile::exists(pdf));

        const QString text = run(pdftotext, {pdf, QStringLiteral("-")});
        QStringList pages = text.split(QLatin1Char('\f'));
        if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
            pages.removeLast();
        QCOMPARE(pages.size(), 2);
        QVERIFY2(pages[0].contains(QLatin1String("example.org : User : bob -:- Finger Quobix v2.2 -:- Page 1")),
                 qPrintable(pages[0].left(400)));
        QVERIFY(pages[0].contains(QLatin1String("Line 001 of the reply")));
        QVERIFY(pages[0].contains(QLatin1String("Line 068 of the reply")));
        QVERIFY(!pages[0].contains(QLatin1String("Line 069")));
        QVERIFY2(pages[1].contains(QLatin1String("example.org : User : bob -:- Finger Quobix v2.2 -:- Page 2")),
                 qPrintable(pages[1].left(400)));
        QVERIFY(pages[1].contains(QLatin1String("Line 069 of the reply")));
        QVERIFY(pages[1].contains(QLatin1String("Line 070 of the reply")));
        QVERIFY(pages[1].contains(QLatin1String("Last piece")));

        // The 68th line still sits inside the printable area of an A4 page.
        const QString boxes = run(pdftotext, {QStringLiteral("-bbox"), QStringLiteral("-f"), QStringLiteral("1"),
                                              QStringLiteral("-l"), QStringLiteral("1"), pdf, QStringLiteral("-")});
        const QRegularExpressionMatch word =
            QRegularExpression(QStringLiteral("yMax=\"([0-9.]+)\">068</word>")).match(boxes);
        QVERIFY2(word.hasMatch(), qPrintable(boxes.left(400)));
        const double printableBottom = 842 - 6.35 / 25.4 * 72;
        QVERIFY2(word.captured(1).toDouble() < printableBottom, qPrintable(word.captured(1)));

        // The job is named after the program and the host.
        const QString info = run(pdfinfo, {pdf});
        QVERIFY2(QRegularExpression(QStringLiteral("(^|\\n)Title: +Finger Quobix - example.org\\n")).match(info).hasMatch(),
                 qPrintable(info));

        // Arial, or its metric twin where the machine lacks it.
        const QString fonts = run(pdffonts, {pdf});
        QVERIFY2(fonts.contains(QLatin1String("LiberationSans")) || fonts.contains(QLatin1String("Arial")),
                 qPrintable(fonts));

        // The rule under the header runs nearly across the page.
        const QString image = dir.filePath(QStringLiteral("page"));
        run(pdftoppm,
            QStringList{"-r", "150", "-gray", "-aaVector", "no", "-singlefile", "-f", "1", "-l", "1", pdf, image});
        const QImage page(image + QStringLiteral(".pgm"));
        QVERIFY(!page.isNull());
        QVERIFY2(longestDarkRun(page) > page.width() * 9 / 10, qPrintable(QString::number(longestDarkRun(page))));
    }

    // On paper too short for 68 lines (Letter) every line still lands inside the
    // printable area, on pages opened early; A4 still takes 68 lines on page 1.
    void everyLineLandsInsideThePrintableArea_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<double>("heightPoints");
        QTest::newRow("A4") << int(QPageSize::A4) << 842.0;
        QTest::newRow("Letter") << int(QPageSize::Letter) << 792.0;
    }
    void everyLineLandsInsideThePrintableArea()
    {
        QFETCH(int, paper);
        QFETCH(double, heightPoints);
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("poppler-utils (pdftotext) is not installed; scripts/install-deps.sh --tests installs it");
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("pages.pdf"));
        printIntoPdf(pdf, QPageSize::PageSizeId(paper));
        auto program = TestSupport::startProgram();
        program->window().text1->clear();
        QByteArray body;
        QStringList expected;
        for (int i = 1; i <= 140; ++i) {
            expected.append(QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')));
            body += "Line " + expected.last().toLatin1() + "\r\n";
        }
        program->window().text1->append(body);

        program->window().mnuPrint->trigger();

        QVERIFY2(recordingPlatform().boxes.isEmpty(), qPrintable(recordingPlatform().boxTexts().join('\n')));
        const QString boxes = run(pdftotext, {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
        const double printableBottom = heightPoints - 6.35 / 25.4 * 72;
        QStringList numbers;
        const QRegularExpression word(QStringLiteral("yMax=\"([0-9.]+)\">([^<]*)</word>"));
        for (const QRegularExpressionMatch& m : word.globalMatch(boxes)) {
            QVERIFY2(m.captured(1).toDouble() <= printableBottom, qPrintable(m.captured(2) + " " + m.captured(1)));
            if (expected.contains(m.captured(2)))
                numbers.append(m.captured(2));
        }
        QCOMPARE(numbers, expected);
        const QString firstPage = boxes.section(QStringLiteral("<page "), 1, 1);
        QCOMPARE(firstPage.contains(QLatin1String(">068</word>")), paper == QPageSize::A4);
        QVERIFY(!firstPage.contains(QLatin1String(">069</word>")));
    }

    // A line far wider than the paper goes to the printer only as far as it can show:
    // a reply line of megabytes must not be laid out and spooled whole.
    void overlongLineIsCutAtThePaperEdge()
    {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("poppler-utils (pdftotext) is not installed; scripts/install-deps.sh --tests installs it");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pdf = dir.filePath(QStringLiteral("long.pdf"));
        printIntoPdf(pdf);
        auto program = TestSupport::startProgram();
        program->window().text1->clear();
        QByteArray line = "Start of a long line ";
        for (int i = 0; line.size() < 2 * 1024 * 1024; ++i)
            line += "word" + QByteArray::number(i % 10) + ' ';
        program->window().text1->append(line + "\r\nNext line");

        program->window().mnuPrint->trigger();

        QVERIFY2(recordingPlatform().boxes.isEmpty(), qPrintable(recordingPlatform().boxTexts().join('\n')));
        const QString text = run(pdftotext, {pdf, QStringLiteral("-")});
        QVERIFY2(text.contains(QLatin1String("Start of a long line word0 word1")), qPrintable(text.left(400)));
        QVERIFY(text.contains(QLatin1String("Next line")));
        QVERIFY2(QFileInfo(pdf).size() < 100 * 1024, qPrintable(QString::number(QFileInfo(pdf).size())));
        QVERIFY2(text.size() < 4096, qPrintable(QString::number(text.size())));
    }

    // A job that cannot start reaches the user as a "Print Error" box naming the cause.
    void printerThatCannotStartReportsIt()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("no such folder/transcript.pdf"));
        printIntoPdf(pdf);
        auto program = TestSupport::startProgram();
        program->window().setStatusText(QStringLiteral("before"));

        QTest::ignoreMessage(QtWarningMsg, "QPainter::begin(): Returned false");
        program->window().mnuPrint->trigger();

        QCOMPARE(recordingPlatform().boxes.size(), 1);
        const RecordingPlatform::Box box = recordingPlatform().boxes.first();
        QCOMPARE(box.caption, QStringLiteral("Print Error"));
        QCOMPARE(box.icon, Platform::Icon::Critical);
        QVERIFY2(box.text.contains(pdf), qPrintable(box.text));
        QCOMPARE(program->window().statusText(), QStringLiteral("before"));
    }
};

static TestRegistration<PdfPrintTest> registration;
#include "PdfPrintTest.moc"
