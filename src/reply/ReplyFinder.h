#pragma once

#include "reply/ReplySearch.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <optional>

class ReplyBox;

// Runs Find in the reply box: a search in slices between events on the one
// GUI thread, so the window keeps answering (and Escape can stop it) while a
// 64 MiB reply is searched. A match is selected and scrolled into view; the
// end of every search is told through searchEnded.
class ReplyFinder : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyFinder)

public:
    explicit ReplyFinder(ReplyBox& box);
    ~ReplyFinder() override;

    // Searches from the selection: forward from its end, backward from its start.
    void find(const ReplySearch::Options& options);
    // The last search again in the direction given; false when there was none.
    bool findAgain(bool backward);
    void stop();
    bool isSearching() const { return m_search.has_value(); }
    const ReplySearch::Options& lastSearch() const { return m_last; }

    // How long one run between events may take.
    static constexpr int kSliceMs = 12;

signals:
    // found: a match is selected; statusText is what the status line should say (empty: nothing new).
    void searchEnded(bool found, const QString& statusText);

private:
    void slice();

    ReplyBox& m_box;
    ReplySearch::Options m_last;
    std::optional<ReplySearch> m_search;
    QTimer m_next;
};
