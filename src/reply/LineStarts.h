#pragma once

#include <QtGlobal>

#include <algorithm>
#include <deque>
#include <vector>

// Positions in increasing order (the reply text's checkpoints), in four bytes
// each. Each entry keeps the low bits of its position; the few entries where
// the high part steps up are listed apart. A deque grows in small blocks, so
// a long index is never copied whole while it grows. "Lines" here are entries.
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

    // Forgets the first `lines` lines and moves every later start back by
    // bytes (a start that would fall before 0 becomes 0), in one pass over
    // the lines kept.
    void dropFront(qsizetype lines, qsizetype bytes)
    {
        std::vector<qsizetype> steps;
        qsizetype line = lines;
        walk(*this, lines, [&](qsizetype start, quint32& low) {
            const qsizetype moved = std::max<qsizetype>(0, start - bytes);
            while (qsizetype(steps.size()) < (moved >> m_lowBits))
                steps.push_back(line - lines);
            low = quint32(quint64(moved) & m_lowMask);
            ++line;
        });
        m_low.erase(m_low.begin(), m_low.begin() + lines);
        m_steps.swap(steps);
    }

    // Calls f(start) for every line in order: a sequential walk, cheaper than at() line by line.
    template<class F>
    void forEach(F f) const
    {
        walk(*this, 0, [&f](qsizetype start, const quint32&) { f(start); });
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
    // f(start, stored low bits) for the lines from first on; Self is const or not.
    template<class Self, class F>
    static void walk(Self& self, qsizetype first, F f)
    {
        qsizetype high = self.highOf(first);
        size_t nextStep = size_t(high);
        qsizetype line = first;
        for (auto it = self.m_low.begin() + first; it != self.m_low.end(); ++it, ++line) {
            while (nextStep < self.m_steps.size() && self.m_steps[nextStep] <= line) {
                ++high;
                ++nextStep;
            }
            f((high << self.m_lowBits) | qsizetype(*it), *it);
        }
    }

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
