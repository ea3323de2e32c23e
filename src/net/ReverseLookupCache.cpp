#include "net/ReverseLookupCache.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>

#include <algorithm>
#include <utility>

ReverseLookupCache::ReverseLookupCache(Resolver resolver, Clock clock, qint64 timeToLiveMs, int maxEntries)
    : m_resolver(std::move(resolver))
    , m_clock(std::move(clock))
    , m_timeToLiveMs(timeToLiveMs)
    , m_maxEntries(std::max(1, maxEntries))
{
}

ReverseLookupCache& ReverseLookupCache::shared()
{
    static ReverseLookupCache cache(
        [](const QString& address, Done done) {
            QHostInfo::lookupHost(address, QCoreApplication::instance(), [done](const QHostInfo& info) {
                done(info.error() == QHostInfo::NoError ? info.hostName() : QString());
            });
        },
        [] { return QDeadlineTimer::current().deadline(); });
    return cache;
}

bool ReverseLookupCache::isUsableName(const QString& name)
{
    // A name server may hand back anything; one with line breaks or other
    // control characters would write lines of its own into the visitor log.
    const bool plain = std::none_of(name.cbegin(), name.cend(), [](QChar c) {
        return c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    });
    return plain && !name.isEmpty() && QHostAddress(name).isNull();
}

std::optional<QString> ReverseLookupCache::cached(const QString& address)
{
    dropStale(m_clock());
    const auto it = m_entries.constFind(address);
    if (it == m_entries.cend())
        return std::nullopt;
    return it->name;
}

std::optional<QString> ReverseLookupCache::lookUp(const QString& address, Done done, Ticket& ticket)
{
    ticket = 0;
    if (std::optional<QString> name = cached(address))
        return name;
    ticket = ++m_lastTicket;
    auto it = m_inFlight.find(address);
    if (it != m_inFlight.end()) {
        it->push_back({ticket, std::move(done)});
        return std::nullopt;
    }
    m_inFlight.insert(address, {{ticket, std::move(done)}});
    m_resolver(address, [this, address](const QString& name) { finished(address, name); });
    return std::nullopt;
}

void ReverseLookupCache::cancel(Ticket ticket)
{
    if (ticket == 0)
        return;
    for (std::vector<Waiter>& waiters : m_inFlight) {
        const auto it = std::find_if(waiters.begin(), waiters.end(), [ticket](const Waiter& w) { return w.ticket == ticket; });
        if (it != waiters.end()) {
            waiters.erase(it);
            return;
        }
    }
}

void ReverseLookupCache::finished(const QString& address, const QString& found)
{
    const QString name = isUsableName(found) ? found : QString();
    const qint64 now = m_clock();
    dropStale(now);
    const qint64 expiresAt = now + m_timeToLiveMs;
    m_entries.insert(address, {name, expiresAt});
    m_order.emplace_back(address, expiresAt);
    // The oldest entries make room; they are also the nearest to expiry.
    while (m_entries.size() > m_maxEntries && !m_order.empty()) {
        const auto [oldest, at] = std::move(m_order.front());
        m_order.pop_front();
        const auto it = m_entries.constFind(oldest);
        if (it != m_entries.cend() && it->expiresAt == at)
            m_entries.erase(it);
    }
    // Taken out first: a waiter may start another look-up of the same address.
    const std::vector<Waiter> waiters = m_inFlight.take(address);
    for (const Waiter& waiter : waiters)
        waiter.done(name);
}

void ReverseLookupCache::dropStale(qint64 now)
{
    while (!m_order.empty() && m_order.front().second <= now) {
        const auto [address, at] = std::move(m_order.front());
        m_order.pop_front();
        // A later entry for the same address has its own place further back.
        const auto it = m_entries.constFind(address);
        if (it != m_entries.cend() && it->expiresAt == at)
            m_entries.erase(it);
    }
}
