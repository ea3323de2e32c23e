#pragma once

#include <QString>

class ReplyText;

// A stretch of the reply text as the box shows it (ReplyText's own decoding),
// with the way back from its UTF-16 indices to byte positions of the text, so
// Find and the links follow the model however it reads the bytes.
class ShownText
{
public:
    // from and to are character starts (to may be the text's end).
    ShownText(const ReplyText& text, qsizetype from, qsizetype to);

    const QString& text() const { return m_shown; }
    qsizetype from() const { return m_from; }
    qsizetype to() const { return m_to; }

    // The byte position where the character at index starts (to() at the end).
    // Cheap for increasing indices; the walk starts over for a smaller one.
    qsizetype positionOf(qsizetype index) const;

private:
    const ReplyText& m_model;
    qsizetype m_from;
    qsizetype m_to;
    QString m_shown;
    bool m_oneByteEach; // every character one byte and one unit: indices are offsets
    mutable qsizetype m_index = 0; // the last index walked to, and its position
    mutable qsizetype m_position;
};
