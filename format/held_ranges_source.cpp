#include "format/held_ranges_source.h"

#include <algorithm>
#include <cstring>

HeldRangesSource::HeldRangesSource(const ByteSource& base)
    : ByteSource(base.size(), nullptr), base_(base), view_(*this) {}

const HeldRangesSource::Span* HeldRangesSource::find(int64_t offset, int64_t* next) const {
    // The first span that starts after offset; the one before it may hold offset.
    const auto after = std::upper_bound(
        spans_.begin(), spans_.end(), offset,
        [](int64_t value, const Span& span) { return value < span.offset; });
    if (next != nullptr) *next = after != spans_.end() ? after->offset : size();
    if (after == spans_.begin()) return nullptr;
    const Span& before = *(after - 1);
    return offset < before.end() ? &before : nullptr;
}

int64_t HeldRangesSource::copy_held(int64_t offset, void* out, int64_t count) const {
    const Span* span = find(offset, nullptr);
    if (span == nullptr) return 0;
    const int64_t n = std::min(count, span->end() - offset);
    std::memcpy(out, span->bytes.data() + (offset - span->offset), static_cast<std::size_t>(n));
    return n;
}

int64_t HeldRangesSource::held_bytes(int64_t offset) const {
    const Span* span = find(offset, nullptr);
    return span != nullptr ? span->end() - offset : 0;
}

int64_t HeldRangesSource::read_within(int64_t offset, void* out, int64_t count) const {
    // The header is always read from the source itself: the decode checks it against the one
    // the image was opened with, to notice a source that changes while it is read.
    if (offset < kFreshBytes) return base_.read_at(offset, out, std::min(count, kFreshBytes - offset));
    int64_t next = 0;
    if (find(offset, &next) != nullptr) return copy_held(offset, out, count);
    // Not held: read from the source beneath, but not the held bytes that follow again. A
    // shorter read than asked is taken in its stride by every reader of a source.
    return base_.read_at(offset, out, std::min(count, next - offset));
}

void HeldRangesSource::join_widest(std::vector<ByteRange>* joined, std::size_t most_ranges,
                                   int64_t widest_gap) const {
    if (most_ranges == 0 || joined->size() <= most_ranges) return;
    // The gaps that may be filled (no held bytes in them), narrowest first. Gaps wider than
    // widest_gap are filled too while all of them together come to no more than the bytes
    // asked for: a large read (a window across a whole image) then takes the bytes between its
    // ranges, which its neighbours read next, instead of hundreds of requests.
    std::vector<std::pair<int64_t, std::size_t>> gaps;
    int64_t asked = 0;
    for (std::size_t i = 0; i < joined->size(); ++i) {
        asked += (*joined)[i].length;
        if (i + 1 == joined->size()) break;
        const int64_t end = (*joined)[i].offset + (*joined)[i].length;
        int64_t next_held = 0;
        find(end - 1, &next_held);
        const int64_t width = (*joined)[i + 1].offset - end;
        if (next_held >= (*joined)[i + 1].offset) gaps.push_back({width, i});
    }
    std::sort(gaps.begin(), gaps.end());
    std::vector<bool> join(joined->size(), false);  // join[i]: range i + 1 joins range i
    std::size_t count = joined->size();
    int64_t wide_filled = 0;
    for (const auto& gap : gaps) {
        if (count <= most_ranges) break;
        if (gap.first > widest_gap) {
            if (wide_filled + gap.first > asked) break;
            wide_filled += gap.first;
        }
        join[gap.second] = true;
        --count;
    }
    std::vector<ByteRange> fewer;
    for (std::size_t i = 0; i < joined->size(); ++i) {
        const ByteRange& r = (*joined)[i];
        if (i > 0 && join[i - 1]) {
            fewer.back().length = r.offset + r.length - fewer.back().offset;
        } else {
            fewer.push_back(r);
        }
    }
    *joined = std::move(fewer);
}

bool HeldRangesSource::fetch(std::vector<ByteRange> ranges, int64_t gap, std::size_t most_ranges,
                             int64_t widest_gap) {
    // Cut to the source, leave out what is held, sort and join.
    std::vector<ByteRange> wanted;
    for (ByteRange r : ranges) {
        if (r.offset < 0 || r.length <= 0 || r.offset >= size()) continue;
        int64_t start = r.offset;
        const int64_t end = std::min(size(), r.offset + std::min(r.length, size()));
        while (start < end) {
            int64_t next = 0;
            const Span* span = find(start, &next);
            if (span != nullptr) {
                start = span->end();
                continue;
            }
            const int64_t stop = std::min(end, next);
            wanted.push_back({start, stop - start});
            start = stop;
        }
    }
    ranges.clear();
    if (wanted.empty()) return true;
    std::sort(wanted.begin(), wanted.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
    std::vector<ByteRange> joined;
    for (const ByteRange& r : wanted) {
        // Joined only across bytes not held: none is fetched twice.
        int64_t next_held = 0;
        if (!joined.empty()) find(joined.back().offset + joined.back().length - 1, &next_held);
        if (!joined.empty() && r.offset <= joined.back().offset + joined.back().length + gap &&
            next_held >= r.offset) {
            ByteRange& last = joined.back();
            last.length = std::max(last.length, r.offset + r.length - last.offset);
        } else {
            joined.push_back(r);
        }
    }
    join_widest(&joined, most_ranges, widest_gap);
    int64_t total = 0;
    for (const ByteRange& r : joined) total += r.length;
    if (joined.size() > kMaxRanges || total > kMaxHeldBytes - held_total_) return false;

    std::vector<Span> fetched(joined.size());
    std::vector<int64_t> offsets(joined.size());
    std::vector<int64_t> lengths(joined.size());
    std::vector<uint8_t*> buffers(joined.size());
    for (std::size_t i = 0; i < joined.size(); ++i) {
        fetched[i].offset = offsets[i] = joined[i].offset;
        lengths[i] = joined[i].length;
        fetched[i].bytes.resize(static_cast<std::size_t>(joined[i].length));
        buffers[i] = fetched[i].bytes.data();
    }
    ++fetch_calls_;
    ranges_fetched_ += static_cast<int64_t>(joined.size());
    if (!base_.read_ranges(joined.size(), offsets.data(), lengths.data(), buffers.data())) {
        return false;
    }
    // A joined range may take in held bytes between its parts: the spans are merged again into
    // spans apart from one another (their bytes are the source's either way).
    std::vector<Span> all;
    all.reserve(spans_.size() + fetched.size());
    for (Span& s : spans_) all.push_back(std::move(s));
    for (Span& s : fetched) all.push_back(std::move(s));
    std::sort(all.begin(), all.end(),
              [](const Span& a, const Span& b) { return a.offset < b.offset; });
    spans_.clear();
    held_total_ = 0;
    for (Span& s : all) {
        if (!spans_.empty() && s.offset <= spans_.back().end()) {
            Span& last = spans_.back();
            if (s.end() > last.end()) {
                const auto skip = static_cast<std::size_t>(last.end() - s.offset);
                last.bytes.insert(last.bytes.end(), s.bytes.begin() + static_cast<std::ptrdiff_t>(skip),
                                  s.bytes.end());
            }
        } else {
            spans_.push_back(std::move(s));
        }
    }
    for (const Span& s : spans_) held_total_ += static_cast<int64_t>(s.bytes.size());
    return true;
}
