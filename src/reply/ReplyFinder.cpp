#include "reply/ReplyFinder.h"

#include "reply/ReplyBox.h"

ReplyFinder::ReplyFinder(ReplyBox& box) : QObject(&box), m_box(box)
{
    m_next.setSingleShot(true);
    m_next.setInterval(0);
    connect(&m_next, &QTimer::timeout, this, &ReplyFinder::slice);
    const ReplyText& text = box.model();
    // A new text makes the search meaningless; dropped lines only move it.
    connect(&text, &ReplyText::aboutToReplace, this, [this] {
        if (m_search) {
            m_search.reset();
            m_next.stop();
            emit searchEnded(false, QString());
        }
    });
    connect(&text, &ReplyText::dropped, this, [this](qsizetype bytes, qsizetype) {
        if (m_search)
            m_search->textDropped(bytes);
    });
}

ReplyFinder::~ReplyFinder() = default;

void ReplyFinder::find(const ReplySearch::Options& options)
{
    m_next.stop();
    m_last = options;
    const qsizetype start = options.backward ? m_box.selStart() : m_box.selStart() + m_box.selLength();
    m_search.emplace(m_box.model(), options, start);
    slice();
}

bool ReplyFinder::findAgain(bool backward)
{
    if (m_last.what.isEmpty())
        return false;
    ReplySearch::Options options = m_last;
    options.backward = backward;
    find(options);
    return true;
}

void ReplyFinder::stop()
{
    if (!m_search)
        return;
    m_next.stop();
    m_search.reset();
    emit searchEnded(false, QString());
}

void ReplyFinder::slice()
{
    if (!m_search)
        return;
    QElapsedTimer clock;
    clock.start();
    while (m_search->step() == ReplySearch::State::Running) {
        if (clock.elapsed() >= kSliceMs) {
            m_next.start();
            return;
        }
    }
    const ReplySearch done = *m_search;
    m_search.reset();
    const bool found = done.state() == ReplySearch::State::Found;
    if (found)
        m_box.setSelection(done.matchFrom(), done.matchTo() - done.matchFrom());
    emit searchEnded(found, findStatusText(done.state(), done.wrapped(), m_last.backward, m_last.what));
}
