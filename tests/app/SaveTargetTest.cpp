#include "TestMain.h"
#include "app/SaveTarget.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// What the Save As dialog refuses: a missing folder, a read-only file, a
// write-protected folder. (Write bits, so the test holds when run as root.)
class SaveTargetTest : public QObject
{
    Q_OBJECT

private slots:
    void refusedTargets_data()
    {
        QTest::addColumn<QString>("path"); // relative to a fresh folder
        QTest::addColumn<QString>("problem"); // a part of the refusal, or empty when accepted
        QTest::newRow("new file") << "new.txt" << "";
        QTest::newRow("writable file") << "writable.txt" << "";
        QTest::newRow("missing folder") << "missing/new.txt" << "does not exist";
        QTest::newRow("read-only file") << "readonly.txt" << "is read-only";
        QTest::newRow("new file in a write-protected folder") << "locked/new.txt" << "is write-protected";
        QTest::newRow("writable file in a write-protected folder") << "locked/inside.txt" << "is write-protected";
    }
    void refusedTargets()
    {
        QFETCH(QString, path);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QDir root(dir.path());
        for (const char* name : {"writable.txt", "readonly.txt"}) {
            QFile file(root.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(root.mkdir("locked"));
        QFile inside(root.filePath("locked/inside.txt"));
        QVERIFY(inside.open(QIODevice::WriteOnly));
        inside.close();
        QVERIFY(QFile::setPermissions(root.filePath("readonly.txt"), QFile::ReadOwner | QFile::ReadGroup));
        QVERIFY(QFile::setPermissions(root.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner));

        const QString refusal = saveTargetProblem(root.filePath(path));

        QFile::setPermissions(root.filePath("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (problem.isEmpty())
            QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
        else
            QVERIFY2(refusal.contains(problem), qPrintable(refusal));
    }
};

static TestRegistration<SaveTargetTest> registration;
#include "SaveTargetTest.moc"
