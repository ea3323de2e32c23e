#include "reply/ShownText.h"

#include "reply/ReplyText.h"

#include <algorithm>

ShownText::ShownText(const ReplyText& text, qsizetype from, qsizetype to)
    : m_model(text), m_from(from), m_to(to), m_shown(text.textAt(from, to - from)), m_position(from)
{
    // A character never takes more units than bytes, so equal counts mean one each.
    m_oneByteEach = m_shown.size() == to - from;
}

qsizetype ShownText::positionOf(qsizetype index) const
{
    if (index >= m_shown.size())
        return m_to;
    if (m_oneByteEach)
        return m_from + index;
    if (index < m_index) {
        m_index = 0;
        m_position = m_from;
    }
    const char* d = m_model.data().constData();
    while (m_index < index && m_position < m_to) {
        if (static_cast<uchar>(d[m_position]) < 0x80) {
            ++m_position;
            ++m_index;
            continue;
        }
        // A character of its own (one byte or a UTF-8 sequence) with one or two units.
        m_position = std::min(m_model.nextPosition(m_position), m_to);
        m_index += m_shown.at(m_index).isHighSurrogate() ? 2 : 1;
    }
    return m_position;
}
