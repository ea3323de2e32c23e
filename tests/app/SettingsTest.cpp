#include "TestMain.h"
#include "app/Settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

namespace {
const QString kRegister = QStringLiteral("Installed Apps");

QString app(int n)
{
    return Settings::read(kMakerRegister, kRegister, QStringLiteral("App") + QString::number(n));
}
QString description(int n)
{
    return Settings::read(kMakerRegister, kRegister, QStringLiteral("App Description") + QString::number(n));
}
} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    void readGivesDefaultWhenAbsentAndValueWhenWritten()
    {
        QCOMPARE(Settings::read(kAppName, "Finger", "Real Name", "fallback"), QString("fallback"));
        Settings::write(kAppName, "Finger", "Real Name", "Ann Example");
        QCOMPARE(Settings::read(kAppName, "Finger", "Real Name"), QString("Ann Example"));
        QCOMPARE(Settings::read(kMakerRegister, "Finger", "Real Name"), QString());
    }

    void profileAndShortHostListRoundTrip()
    {
        Profile profile{"Ann Example", "ann@example.org", "http://example.org/", "line one\r\nline two"};
        QStringList table{"alpha.example", " spaced ", "Beta"};
        saveFinger(profile, table);

        Profile loaded;
        QStringList loadedTable{"stale"};
        initFinger(loaded, loadedTable);
        QCOMPARE(loaded.name, profile.name);
        QCOMPARE(loaded.email, profile.email);
        QCOMPARE(loaded.homepage, profile.homepage);
        QCOMPARE(loaded.description, profile.description);
        QCOMPARE(loadedTable.size(), kHostListSize);
        QCOMPARE(loadedTable.mid(0, 3), table);
        for (int n = 3; n < kHostListSize; ++n)
            QCOMPARE(loadedTable.at(n), QString());
    }

    void hostRemovedFromListDoesNotComeBack()
    {
        QStringList full;
        for (int n = 0; n < kHostListSize; ++n)
            full.append(QStringLiteral("host%1").arg(n));
        saveFinger({}, full);
        saveFinger({}, {"host0"});

        Profile profile;
        QStringList table;
        initFinger(profile, table);
        QCOMPARE(table.first(), QString("host0"));
        QCOMPARE(table.count(QString()), kHostListSize - 1);
    }

    void handTypedValuesWithCommasAreKept()
    {
        // Unquoted in the file, as a person editing it would write them.
        {
            QSettings own(QSettings::NativeFormat, QSettings::UserScope, kAppName);
            own.setValue("Finger/Real Name", QStringList{"Smith", "John"});
            own.setValue("Setup/Host List0", QStringList{"a.example", "b.example"});
            QSettings shared(QSettings::NativeFormat, QSettings::UserScope, kMakerRegister);
            shared.setValue(kRegister + "/App1", QStringList{"C:/Tools", "Inc/other.exe"});
        }
        Profile profile;
        QStringList table;
        initFinger(profile, table);
        QCOMPARE(profile.name, QString("Smith, John"));
        QCOMPARE(table.first(), QString("a.example, b.example"));

        QCOMPARE(registerInstalledProgram("E:\\New", "fq", kAppTitle), 2);
        QCOMPARE(app(1), QString("C:/Tools, Inc/other.exe"));
    }

    void registrationPath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("path");
        QTest::newRow("plain folder") << "C:\\Program Files\\Quobix" << "C:\\Program Files\\Quobix\\fq.exe";
        QTest::newRow("root folder") << "C:\\" << "C:\\fq.exe";
        QTest::newRow("unix folder") << "/usr/bin" << "/usr/bin\\fq.exe";
    }
    void registrationPath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, path);
        QCOMPARE(::registrationPath(folder, "fq"), path);
    }

    void registration_data()
    {
        // Taken slots given as "n=value"; the expected slot used (0: none) and whether
        // every other slot is left as it was.
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<int>("expected");
        QTest::newRow("first run takes slot 1") << QStringList{} << 1;
        QTest::newRow("blank-only slot is free") << QStringList{"1=   "} << 1;
        QTest::newRow("own slot found by file name")
            << QStringList{"1=C:\\Other\\other.exe", "2=D:\\Old place\\fq.exe"} << 2;
        QTest::newRow("earlier free slot wins over own later slot")
            << QStringList{"1=C:\\Other\\other.exe", "3=D:\\Old\\fq.exe"} << 2;
        QTest::newRow("longer name with the same ending counts as own")
            << QStringList{"1=C:\\Tools\\superfq.exe"} << 1;
        QTest::newRow("file name match is case-sensitive")
            << QStringList{"1=C:\\Tools\\FQ.EXE"} << 2;
    }
    void registration()
    {
        QFETCH(QStringList, taken);
        QFETCH(int, expected);
        QHash<int, QString> before;
        for (const QString& entry : taken) {
            const int n = entry.section('=', 0, 0).toInt();
            before.insert(n, entry.section('=', 1));
            Settings::write(kMakerRegister, kRegister, QStringLiteral("App") + QString::number(n), before.value(n));
        }

        QCOMPARE(registerInstalledProgram("E:\\New", "fq", kAppTitle), expected);
        QCOMPARE(app(expected), QString("E:\\New\\fq.exe"));
        QCOMPARE(description(expected), kAppTitle);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it.key() != expected)
                QCOMPARE(app(it.key()), it.value());
        }
    }

    // Outside Windows the register holds real paths: a slot is this program's
    // only when its last component is the executable's own file name.
    void unixSlotIsOwnOnlyByItsWholeFileName_data()
    {
        QTest::addColumn<QString>("taken"); // slot 1; NAME stands for the executable's file name
        QTest::addColumn<int>("expected");
        QTest::newRow("the name as a folder's prefix") << "/opt/NAME-old/tool" << 2;
        QTest::newRow("a longer file name") << "/usr/bin/NAME2" << 2;
        QTest::newRow("moved elsewhere") << "/old/place/NAME" << 1;
    }
    void unixSlotIsOwnOnlyByItsWholeFileName()
    {
#ifdef Q_OS_WIN
        QSKIP("the Windows register names programs by their .exe");
#endif
        QFETCH(QString, taken);
        QFETCH(int, expected);
        const QString own = QCoreApplication::applicationFilePath();
        const QString other = taken.replace("NAME", QFileInfo(own).fileName());
        Settings::write(kMakerRegister, kRegister, "App1", other);

        QCOMPARE(registerInstalledProgram(), expected);
        QCOMPARE(app(expected), own);
        if (expected != 1)
            QCOMPARE(app(1), other);
    }

    void registrationWritesNothingWhenAllSlotsAreTaken()
    {
        for (int n = 1; n <= 100; ++n)
            Settings::write(kMakerRegister, kRegister, QStringLiteral("App") + QString::number(n),
                            QStringLiteral("C:\\p%1\\prog%1.exe").arg(n));
        QCOMPARE(registerInstalledProgram("E:\\New", "fq", kAppTitle), 0);
        for (int n = 1; n <= 100; ++n) {
            QCOMPARE(app(n), QStringLiteral("C:\\p%1\\prog%1.exe").arg(n));
            QCOMPARE(description(n), QString());
        }
        QCOMPARE(app(101), QString());
    }
};

static TestRegistration<SettingsTest> registration;
#include "SettingsTest.moc"
