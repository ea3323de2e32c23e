#include "TestMain.h"
#include "net/ReverseLookupCache.h"

#include <QTest>

#include <memory>

namespace {
// A resolver that answers only when the test says so, and a clock the test sets.
struct FakeWorld
{
    QStringList asked;
    QHash<QString, ReverseLookupCache::Done> pending;
    qint64 now = 1000;

    std::unique_ptr<ReverseLookupCache> cache(int maxEntries = ReverseLookupCache::kMaxEntries)
    {
        return std::make_unique<ReverseLookupCache>(
            [this](const QString& address, ReverseLookupCache::Done done) {
                asked << address;
                pending.insert(address, std::move(done));
            },
            [this] { return now; }, ReverseLookupCache::kTimeToLiveMs, maxEntries);
    }

    void answer(const QString& address, const QString& name) { pending.take(address)(name); }

    // A finished look-up of address, as a visit leaves it.
    void visit(ReverseLookupCache& cache, const QString& address, const QString& name)
    {
        ReverseLookupCache::Ticket ticket = 0;
        if (!cache.lookUp(address, [](const QString&) {}, ticket))
            answer(address, name);
    }
};
} // namespace

class ReverseLookupCacheTest : public QObject
{
    Q_OBJECT

private slots:
    void visitWithinTheTimeToLiveIsNotLookedUpAgain_data()
    {
        QTest::addColumn<qint64>("later");
        QTest::addColumn<int>("lookUps");
        QTest::newRow("at once") << qint64(0) << 1;
        QTest::newRow("just before expiry") << ReverseLookupCache::kTimeToLiveMs - 1 << 1;
        QTest::newRow("expired") << ReverseLookupCache::kTimeToLiveMs << 2;
    }
    void visitWithinTheTimeToLiveIsNotLookedUpAgain()
    {
        QFETCH(qint64, later);
        QFETCH(int, lookUps);
        FakeWorld world;
        auto cache = world.cache();
        world.visit(*cache, "192.0.2.1", "host.example");
        world.now += later;
        ReverseLookupCache::Ticket ticket = 0;
        const std::optional<QString> name = cache->lookUp("192.0.2.1", [](const QString&) {}, ticket);
        QCOMPARE(world.asked.size(), lookUps);
        QCOMPARE(name.has_value(), lookUps == 1);
        QCOMPARE(name.value_or(QString()), lookUps == 1 ? QString("host.example") : QString());
    }

    void lookUpInFlightIsSharedNeverStartedTwice()
    {
        FakeWorld world;
        auto cache = world.cache();
        QStringList heard;
        ReverseLookupCache::Ticket first = 0;
        ReverseLookupCache::Ticket second = 0;
        ReverseLookupCache::Ticket third = 0;
        QVERIFY(!cache->lookUp("192.0.2.1", [&](const QString& n) { heard << "first " + n; }, first));
        QVERIFY(!cache->lookUp("192.0.2.1", [&](const QString& n) { heard << "second " + n; }, second));
        QVERIFY(!cache->lookUp("192.0.2.1", [&](const QString& n) { heard << "third " + n; }, third));
        QCOMPARE(world.asked, QStringList{"192.0.2.1"});
        // A connection that ends before the answer hears nothing.
        cache->cancel(second);
        world.answer("192.0.2.1", "host.example");
        QCOMPARE(heard, QStringList({"first host.example", "third host.example"}));
        QCOMPARE(cache->lookUpsInFlight(), 0);
        QCOMPARE(cache->cached("192.0.2.1"), std::optional<QString>("host.example"));
    }

    void sizeBoundDropsTheOldestEntries()
    {
        FakeWorld world;
        auto cache = world.cache(3);
        for (int n = 1; n <= 5; ++n) {
            world.visit(*cache, QString("192.0.2.%1").arg(n), QString("h%1.example").arg(n));
            world.now += 10;
        }
        QCOMPARE(cache->entryCount(), 3);
        QVERIFY(!cache->cached("192.0.2.1"));
        QVERIFY(!cache->cached("192.0.2.2"));
        QCOMPARE(cache->cached("192.0.2.5"), std::optional<QString>("h5.example"));
        QCOMPARE(cache->cached("192.0.2.3"), std::optional<QString>("h3.example"));
    }

    void answersThatAreNoNamesAreKeptAsNone_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("kept");
        QTest::newRow("a name") << "host.example" << "host.example";
        QTest::newRow("none found") << "" << "";
        QTest::newRow("the address handed back") << "192.0.2.1" << "";
        QTest::newRow("a line break") << "evil\r\nFinger Server Ready!" << "";
        QTest::newRow("an escape") << "a\x1b[2Jb" << "";
        QTest::newRow("a C1 control") << QString("a") + QChar(0x85) + "b" << "";
    }
    void answersThatAreNoNamesAreKeptAsNone()
    {
        QFETCH(QString, answer);
        QFETCH(QString, kept);
        FakeWorld world;
        auto cache = world.cache();
        QString heard = "(nothing)";
        ReverseLookupCache::Ticket ticket = 0;
        cache->lookUp("192.0.2.1", [&](const QString& n) { heard = n; }, ticket);
        world.answer("192.0.2.1", answer);
        QCOMPARE(heard, kept);
        // Known to have no name: not looked up again within the minute.
        QCOMPARE(cache->cached("192.0.2.1"), std::optional<QString>(kept));
    }
};

static TestRegistration<ReverseLookupCacheTest> registration;
#include "ReverseLookupCacheTest.moc"
