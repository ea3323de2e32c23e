#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

// Host names of peer addresses by reverse look-up, kept for a while, so a
// busy visitor address is looked up once a minute instead of once per
// connection. A look-up in flight for an address is shared by everyone who
// asks meanwhile; it is never started twice. No widgets, no sockets: the
// resolver and the clock are handed in, so tests drive both.
class ReverseLookupCache
{
public:
    // Called once with the name the look-up found, empty when it found none.
    using Done = std::function<void(const QString& name)>;
    // Starts a look-up of an address; calls its Done later, from the event loop.
    using Resolver = std::function<void(const QString& address, Done done)>;
    // Milliseconds from any fixed point, never going back.
    using Clock = std::function<qint64()>;
    using Ticket = std::uint64_t;

    static constexpr qint64 kTimeToLiveMs = 60000;
    static constexpr int kMaxEntries = 1024;

    ReverseLookupCache(Resolver resolver, Clock clock, qint64 timeToLiveMs = kTimeToLiveMs,
                       int maxEntries = kMaxEntries);
    Q_DISABLE_COPY_MOVE(ReverseLookupCache)

    // The program's own: the system's resolver through Qt, a monotonic clock.
    static ReverseLookupCache& shared();

    // What a look-up found may be shown as a name: not empty, not an address
    // handed back for want of a name, and free of control characters.
    static bool isUsableName(const QString& name);

    // The name of a fresh entry (empty when the look-up found none), or
    // nothing when the address has no fresh entry.
    std::optional<QString> cached(const QString& address);

    // A fresh entry's name at once (the Ticket is 0 then, done is not kept);
    // otherwise done is called with the name once the shared look-up ends,
    // unless the Ticket returned is cancelled first.
    std::optional<QString> lookUp(const QString& address, Done done, Ticket& ticket);
    void cancel(Ticket ticket);

    int entryCount() const { return int(m_entries.size()); }
    int lookUpsInFlight() const { return int(m_inFlight.size()); }

private:
    struct Entry
    {
        QString name;
        qint64 expiresAt;
    };
    struct Waiter
    {
        Ticket ticket;
        Done done;
    };

    void finished(const QString& address, const QString& name);
    void dropStale(qint64 now);

    Resolver m_resolver;
    Clock m_clock;
    const qint64 m_timeToLiveMs;
    const int m_maxEntries;
    QHash<QString, Entry> m_entries;
    // Addresses in the order they were entered; one time to live for all, so
    // this is also the order they expire in.
    std::deque<std::pair<QString, qint64>> m_order;
    QHash<QString, std::vector<Waiter>> m_inFlight;
    Ticket m_lastTicket = 0;
};
