// Marks on lines and how they follow the text's edits (linemarks.h). Calls
// the text alone; the view draws the marks (richpaint.cpp).
#include "linemarks.h"

#include <algorithm>

void TLineMarks::Set(const TText &text, const QString &group, const std::vector<TLineMark> &marks) {
    Clear(group);
    for (const TLineMark &m : marks) {
        if (m.Line < 0 || m.Line >= text.LineCount()) continue;
        TMark k;
        k.Group = group;
        k.Line = m.Line;
        k.Start = text.LineStart(m.Line);
        k.End = text.LineEnd(m.Line);
        k.Warning = m.Warning;
        k.Text = m.Text;
        List.push_back(std::move(k));
    }
    std::stable_sort(List.begin(), List.end(), [](const TMark &a, const TMark &b) { return a.Line < b.Line; });
}

bool TLineMarks::Clear(const QString &group) {
    const size_t before = List.size();
    List.erase(std::remove_if(List.begin(), List.end(), [&](const TMark &m) { return m.Group == group; }), List.end());
    return List.size() != before;
}

bool TLineMarks::Edited(const TText &text, const TEditList &edits, const std::function<QString(size_t)> &removed) {
    if (List.empty() || edits.empty()) return false;
    int delta = 0;
    for (const TEdit &e : edits) delta += e.Added - e.Removed;
    const int oldLength = text.Length() - delta;
    if (edits.size() == 1 && edits[0].Position == 0 && edits[0].Removed == oldLength && oldLength > 0) {
        List.clear();  // the whole text replaced
        return true;
    }
    // shift[k]: how far the edits before edit k moved what follows them.
    std::vector<int> shift(edits.size() + 1, 0);
    for (size_t k = 0; k < edits.size(); ++k) shift[k + 1] = shift[k] + edits[k].Added - edits[k].Removed;
    // A position moves along with the edits before it, and past text put in
    // right at it (a line break typed at a line's start moves the line
    // down); one inside a stretch taken away goes to the end of what replaced
    // the stretch (the rest of the line joins the one the stretch began in).
    auto map = [&](int x) {
        const auto it = std::partition_point(edits.begin(), edits.end(),
                                             [x](const TEdit &e) { return e.Position + e.Removed <= x; });
        const size_t k = size_t(it - edits.begin());
        if (it != edits.end() && it->Position <= x) return it->Position + shift[k] + it->Added;
        return x + shift[k];
    };
    // What an edit that takes line breaks away leaves of the first line it
    // touches and of the last, both joined into one: the characters each
    // keeps, and whether it was empty.
    struct TJoin {
        int KeptFirst, KeptLast;
        bool EmptyFirst, EmptyLast;
    };
    auto join = [&](size_t k) {
        const TEdit &e = edits[k];
        const int at = e.Position + shift[k];  // where the edit is in the text now
        const int after = at + e.Added;
        const QString gone = removed(k);
        TJoin j;
        j.KeptFirst = at - text.LineStart(text.LineOf(at));
        j.KeptLast = text.LineEnd(text.LineOf(after)) - after;
        j.EmptyFirst = j.KeptFirst == 0 && gone.startsWith(QLatin1Char('\r'));
        j.EmptyLast = j.KeptLast == 0 && gone.endsWith(QLatin1Char('\n'));
        return j;
    };
    // Of two joined lines, one that keeps characters stays, and so does an
    // empty one, unless it joins one that keeps characters.
    auto stays = [](int kept, bool empty, int otherKept, bool otherEmpty) {
        const bool other = otherKept > 0 || otherEmpty;
        return (kept > 0 || empty) && !(empty && other && !otherEmpty);
    };
    bool changed = false;
    std::vector<TMark> kept;
    kept.reserve(List.size());
    for (TMark &m : List) {
        // The edits that take away the line break before the line and the one after it.
        const auto first = std::partition_point(edits.begin(), edits.end(),
                                                [&m](const TEdit &e) { return e.Position + e.Removed < m.Start; });
        const TEdit *before = nullptr, *after = nullptr;
        for (auto it = first; it != edits.end() && it->Position <= m.End; ++it) {
            if (it->Position <= m.Start - 2 && it->Position + it->Removed >= m.Start) before = &*it;
            if (it->Position <= m.End && it->Position + it->Removed >= m.End + 2) after = &*it;
        }
        bool stay = true;
        int where = -1;  // a position of the line it is on now
        if (before && before == after) {
            stay = false;  // all of it and both its breaks
        } else if (before) {
            const size_t k = size_t(before - edits.data());
            const TJoin j = join(k);
            stay = stays(m.End - (before->Position + before->Removed), m.Start == m.End, j.KeptFirst, j.EmptyFirst);
            where = before->Position + shift[k] + before->Added;
        } else if (after) {
            const size_t k = size_t(after - edits.data());
            const TJoin j = join(k);
            stay = stays(after->Position - m.Start, m.Start == m.End, j.KeptLast, j.EmptyLast);
            where = after->Position + shift[k];
        } else {
            where = map(m.Start);
        }
        if (!stay) {
            changed = true;
            continue;
        }
        const int line = text.LineOf(where);
        changed = changed || line != m.Line;
        m.Line = line;
        m.Start = text.LineStart(line);
        m.End = text.LineEnd(line);
        kept.push_back(std::move(m));
    }
    // (Lines joined may bring marks from further down before others.)
    std::stable_sort(kept.begin(), kept.end(), [](const TMark &a, const TMark &b) { return a.Line < b.Line; });
    List = std::move(kept);
    return changed;
}

std::vector<TLineMark> TLineMarks::On(int first, int last) const {
    std::vector<TLineMark> out;
    auto it = std::partition_point(List.begin(), List.end(), [first](const TMark &m) { return m.Line < first; });
    for (; it != List.end() && it->Line <= last; ++it) out.push_back({it->Line, it->Warning, it->Text});
    return out;
}
