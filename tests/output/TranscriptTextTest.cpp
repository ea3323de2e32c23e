#include "TestMain.h"
#include "output/TranscriptText.h"

#include <QTest>

using namespace TranscriptText;

class TranscriptTextTest : public QObject
{
    Q_OBJECT

private slots:
    // The general form: short date, a blank, the long time without any zone name.
    void dateCreatedFollowsTheLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        QTest::newRow("C") << "C" << QTime(14, 30, 15) << "8 Dec 2026 14:30:15";
        QTest::newRow("C, midnight") << "C" << QTime(0, 0) << "8 Dec 2026";
        QTest::newRow("en_US") << "en_US" << QTime(14, 30, 15) << "12/8/26 2:30:15 PM";
        QTest::newRow("zone in front (zh_CN)") << "zh_CN" << QTime(14, 30, 15) << "2026/12/8 14:30:15";
        QTest::newRow("zone in brackets (ca_ES)") << "ca_ES" << QTime(14, 30, 15) << "8/12/26 14:30:15";
        QTest::newRow("comma before zone (sq_AL)") << "sq_AL" << QTime(14, 30, 15) << "8.12.26 2:30:15 E PASDITES";
        QTest::newRow("literal before zone (bg_BG)")
            << "bg_BG" << QTime(14, 30, 15) << QString::fromUtf8("8.12.26 г. 14:30:15 ч.");
    }
    void dateCreatedFollowsTheLocale()
    {
        QFETCH(QString, locale);
        QFETCH(QTime, time);
        QFETCH(QString, expected);
        QCOMPARE(generalDateTime(QDateTime(QDate(2026, 12, 8), time), QLocale(locale)), expected);
    }

    void noLocaleLeavesZoneRemnants()
    {
        const QList<QLocale> all = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript,
                                                            QLocale::AnyTerritory);
        for (const QLocale& locale : all) {
            const QString format = longTimeFormatWithoutZone(locale);
            const QString shown = locale.toString(QTime(14, 30, 15), format);
            QVERIFY2(!shown.isEmpty() && !shown.front().isSpace() && !shown.back().isSpace()
                         && !shown.endsWith(QLatin1Char(',')) && !shown.contains(QLatin1String("()"))
                         && !shown.contains(QLatin1String("[]")) && !shown.contains(QLatin1String("  ")),
                     qPrintable(locale.name() + QLatin1String(": [") + shown + QLatin1Char(']')));
        }
    }

    void crWalkEndsLinesAtCrAndTakesOnlyAnLfWithIt_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<QByteArray>("rest");
        QTest::newRow("empty") << QByteArray() << QList<QByteArray>{} << QByteArray();
        QTest::newRow("no CR") << QByteArray("one\ntwo") << QList<QByteArray>{} << QByteArray("one\ntwo");
        QTest::newRow("CR LF lines") << QByteArray("a\r\nb\r\nc") << QList<QByteArray>{"a", "b"} << QByteArray("c");
        QTest::newRow("character after a lone CR kept")
            << QByteArray("abc\rXdef") << QList<QByteArray>{"abc"} << QByteArray("Xdef");
        QTest::newRow("lone CR then CR LF: two line ends")
            << QByteArray("a\r\r\nb") << QList<QByteArray>{"a", ""} << QByteArray("b");
        QTest::newRow("empty lines") << QByteArray("\r\n\r\n") << QList<QByteArray>{"", ""} << QByteArray();
        QTest::newRow("CR as the last character ends the last line")
            << QByteArray("a\r\nb\r") << QList<QByteArray>{"a", "b"} << QByteArray();
    }
    void crWalkEndsLinesAtCrAndTakesOnlyAnLfWithIt()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(QByteArray, rest);
        CrLineWalker walker(text);
        QList<QByteArray> walked;
        QByteArray line;
        while (walker.next(line))
            walked.append(line);
        QCOMPARE(walked, lines);
        QCOMPARE(walker.rest(), rest);
    }

    void paddingStopsWhenABlankMeasuresNothing()
    {
        const QString padded = padHeader(QStringLiteral("x"), 12240, 11520,
                                         [](const QString& text) { return text.trimmed().size() * 10.0; });
        QCOMPARE(padded, QStringLiteral(" x"));
    }
};

static TestRegistration<TranscriptTextTest> registration;
#include "TranscriptTextTest.moc"
