#pragma once

#include <QByteArray>
#include <QString>

class ReplyText;

// One Find over the reply text as shown (ReplyText's decoding: UTF-8 replies
// as characters, a control byte never matching a letter), run a slice at a
// time so the window keeps answering while 64 MiB are searched. Forward it
// looks from start to the end, then from the top back to start; backward from
// start to the top, then from the end back to start. No widgets: the finder
// runs it between events, tests call it directly.
class ReplySearch
{
public:
    struct Options
    {
        QString what;
        bool matchCase = false;
        bool backward = false;
    };
    enum class State { Running, Found, NotFound };

    // start: forward, the first position a match may start at; backward, a
    // match must start before it.
    ReplySearch(const ReplyText& text, Options options, qsizetype start);

    // Looks through about this many more bytes; returns the state after.
    State step(qsizetype bytes = kSliceBytes);
    // Runs to the end in one go (tests, the benchmark's reference).
    State run();
    State state() const { return m_state; }

    // The match found, in byte positions of the text, and whether the search
    // went past the end (or the top, backward) to find it.
    qsizetype matchFrom() const { return m_matchFrom; }
    qsizetype matchTo() const { return m_matchTo; }
    bool wrapped() const { return m_wrapped; }

    // The text's oldest bytes went: every position moves back.
    void textDropped(qsizetype bytes);

    static constexpr qsizetype kSliceBytes = 1 << 20;

private:
    // Searches one slice of the current pass; false when the pass is done.
    bool forwardSlice(qsizetype bytes);
    bool backwardSlice(qsizetype bytes);
    bool nextPass();
    bool matchIn(qsizetype decodeFrom, qsizetype decodeTo, qsizetype startsFrom, qsizetype startsTo);
    bool asciiMatchIn(qsizetype from, qsizetype to, qsizetype startsFrom, qsizetype startsTo);

    const ReplyText& m_text;
    Options m_options;
    bool m_asciiWhat = false;
    QByteArray m_whatBytes; // the word as bytes, when it is ASCII
    qsizetype m_start;
    qsizetype m_end; // the text's length when the search began: later lines wait for the next search
    // The pass under way: match starts in [m_low, m_high); m_cursor is where the next slice begins.
    qsizetype m_low = 0;
    qsizetype m_high = 0;
    qsizetype m_cursor = 0;
    bool m_wrapped = false;
    State m_state = State::Running;
    qsizetype m_matchFrom = -1;
    qsizetype m_matchTo = -1;
};

// What the status line says when a search ends; empty for a plain match.
QString findStatusText(ReplySearch::State state, bool wrapped, bool backward, const QString& what);
