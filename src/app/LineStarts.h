#pragma once

#include <QtGlobal>

#include <algorithm>
#include <deque>
#include <vector>

// Where each line of the reply box starts, in four bytes a line: a hostile
// reply of nothing but line breaks must not cost eight bytes of index for each
// byte of text. Each entry keeps the low bits of its start; the few lines
// where the high part steps up are listed apart. A deque grows in small
// blocks, so a long index is never copied whole while it grows.
class LineStarts
{
public:
    // lowBits is 32 in the program; tests pass a small value to cross the steps.
    explicit LineStarts(int lowBits = 32) : m_lowBits(lowBits), m_lowMask((quint64(1) << lowBits) - 1) {}

    qsizetype size() const { return qsizetype(m_low.size()); }

    qsizetype at(qsizetype line) const
    {
        return (highOf(line) << m_lowBits) | qsizetype(m_low.at(size_t(line)));
    }
    qsizetype back() const { return at(size() - 1); }

    // Starts come in increasing order.
    void push_back(qsizetype start)
    {
        const qsizetype line = size();
        while (qsizetype(m_steps.size()) < (start >> m_lowBits))
            m_steps.push_back(line);
        m_low.push_back(quint32(quint64(start) & m_lowMask));
    }

    void pop_back()
    {
        m_low.pop_back();
        while (!m_steps.empty() && m_steps.back() >= size())
            m_steps.pop_back();
    }

    void reset(qsizetype firstStart)
    {
        std::deque<quint32>().swap(m_low);
        std::vector<qsizetype>().swap(m_steps);
        push_back(firstStart);
    }

    // The last line that starts at or before position (0 when none does).
    qsizetype lineAt(qsizetype position) const
    {
        if (position <= 0 || m_low.empty())
            return 0;
        // Only the lines whose high part matches the position's need a look.
        const qsizetype high = position >> m_lowBits;
        const qsizetype steps = qsizetype(m_steps.size());
        const qsizetype first = high == 0 ? 0 : (high <= steps ? m_steps[size_t(high - 1)] : size());
        const qsizetype last = high < steps ? m_steps[size_t(high)] : size();
        const auto begin = m_low.begin();
        const auto it = std::upper_bound(begin + first, begin + last, quint32(quint64(position) & m_lowMask));
        return std::max<qsizetype>(0, (it - begin) - 1);
    }

private:
    // How many steps lie at or before line: the high part of its start.
    qsizetype highOf(qsizetype line) const
    {
        return std::upper_bound(m_steps.begin(), m_steps.end(), line) - m_steps.begin();
    }

    int m_lowBits;
    quint64 m_lowMask;
    std::deque<quint32> m_low;
    // m_steps[k]: the first line whose start's high part exceeds k.
    std::vector<qsizetype> m_steps;
};
