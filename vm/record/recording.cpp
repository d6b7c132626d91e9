// The recording: snapshots, re-execution and the two stream buffers.
#include "recording.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vm::record {

namespace {

constexpr std::size_t kPageWords = 1024;
constexpr std::size_t kPages = kMemoryWords / kPageWords;
using Page = std::array<Word, kPageWords>;

int opcode_delta(Word word) {
    const unsigned op = image::opcode_of(word);
    return op == image::CALL ? 1 : op == image::RET ? -1 : 0;
}

}  // namespace

// ---- input -------------------------------------------------------------------

void RecordedInput::reset_area(std::size_t position) {
    pos_ = position;
    char* base = data_.data();
    setg(base, base + position, base + data_.size());
}

void RecordedInput::seek(std::size_t position) {
    if (position > data_.size()) throw std::out_of_range("input position beyond the bytes read");
    reset_area(position);
}

RecordedInput::int_type RecordedInput::underflow() {
    const std::size_t at = position();
    if (at < data_.size()) {
        reset_area(at);
        return traits_type::to_int_type(data_[at]);
    }
    if (!source_) return traits_type::eof();
    std::streambuf* from = source_->rdbuf();
    const int_type c = from ? from->sbumpc() : traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return c;
    data_.push_back(traits_type::to_char_type(c));
    reset_area(at);
    return c;
}

// ---- output ------------------------------------------------------------------

std::streamsize ReplayOutput::xsputn(const char* s, std::streamsize n) {
    const std::uint64_t count = std::uint64_t(n);
    const std::uint64_t seen = pos_ < high_ ? std::min(count, high_ - pos_) : 0;
    if (seen < count && target_) target_->sputn(s + seen, std::streamsize(count - seen));
    pos_ += count;
    high_ = std::max(high_, pos_);
    return n;
}

ReplayOutput::int_type ReplayOutput::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    xsputn(&ch, 1);
    return c;
}

// ---- snapshots -----------------------------------------------------------------

struct Recording::Snapshot {
    std::uint64_t step = 0;
    std::array<Word, image::kRegisterCount> regs{};
    Word pc = 0;
    bool zf = false, sf = false;
    std::int64_t depth = 0;
    std::size_t input_position = 0;
    std::ios::iostate input_state = std::ios::goodbit;
    std::uint64_t output_position = 0;
    std::array<std::shared_ptr<const Page>, kPages> pages;
};

struct Recording::Live {
    std::array<Word, image::kRegisterCount> regs;
    Word pc;
    bool zf, sf;
};

Recording::Recording(Machine& machine, std::istream& in, RecordedInput& input, ReplayOutput& output,
                     const Options& options)
    : m_(machine), in_(in), input_(input), output_(output), options_(options),
      interval_(std::max<std::uint64_t>(options.interval, 1)) {
    take_snapshot(Live{m_.registers(), m_.pc(), m_.zero_flag(), m_.sign_flag()});
}

Recording::~Recording() = default;

std::size_t Recording::snapshots() const { return snaps_.size(); }

void Recording::take_snapshot(const Live& live) {
    auto s = std::make_unique<Snapshot>();
    s->step = now_;
    s->regs = live.regs;
    s->pc = live.pc;
    s->zf = live.zf;
    s->sf = live.sf;
    s->depth = depth_;
    s->input_position = input_.position();
    s->input_state = in_.rdstate();
    s->output_position = output_.position();
    const Word* memory = m_.memory_data();
    const Snapshot* last = snaps_.empty() ? nullptr : snaps_.back().get();
    for (std::size_t p = 0; p < kPages; ++p) {
        const Word* words = memory + p * kPageWords;
        if (last && std::memcmp(last->pages[p]->data(), words, sizeof(Page)) == 0) {
            s->pages[p] = last->pages[p];
            continue;
        }
        auto page = std::make_shared<Page>();
        std::memcpy(page->data(), words, sizeof(Page));
        s->pages[p] = std::move(page);
        bytes_ += sizeof(Page);
    }
    bytes_ += sizeof(Snapshot);
    snaps_.push_back(std::move(s));
    if (snaps_.size() > options_.max_snapshots || bytes_ > options_.budget) thin();
}

// Drops every second snapshot (never the first nor the last) and doubles
// the interval,
// until the snapshots fit again.
void Recording::thin() {
    while (snaps_.size() > 2 && (snaps_.size() > options_.max_snapshots || bytes_ > options_.budget)) {
        std::vector<std::unique_ptr<Snapshot>> kept;
        for (std::size_t i = 0; i < snaps_.size(); ++i) {
            if (i % 2 == 0 || i + 1 == snaps_.size()) {
                kept.push_back(std::move(snaps_[i]));
                continue;
            }
            for (auto& page : snaps_[i]->pages)
                if (page.use_count() == 1) bytes_ -= sizeof(Page);
            bytes_ -= sizeof(Snapshot);
        }
        snaps_ = std::move(kept);
        interval_ *= 2;
    }
}

void Recording::restore(const Snapshot& s) {
    for (unsigned r = 0; r < image::kRegisterCount; ++r) m_.set_reg(r, s.regs[r]);
    m_.set_pc(s.pc);
    m_.set_flags(s.zf, s.sf);
    Word* memory = m_.memory_data();
    for (std::size_t p = 0; p < kPages; ++p) std::memcpy(memory + p * kPageWords, s.pages[p]->data(), sizeof(Page));
    depth_ = s.depth;
    input_.seek(s.input_position);
    in_.clear(s.input_state);
    output_.seek(s.output_position);
    now_ = s.step;
}

// ---- running ---------------------------------------------------------------------

RunResult Recording::advance(std::uint64_t count, Probe* probe, std::uint64_t low,
                             std::optional<std::uint64_t>* found) {
    const TraceHook hook = [&](const TraceStep& t) {
        ++now_;
        depth_ += opcode_delta(t.word);
        if (now_ > end_) end_ = now_;
        if (probe && now_ > low && probe->wanted(m_, t, depth_)) *found = now_;
        if (now_ >= snaps_.back()->step + interval_) take_snapshot(Live{t.regs, t.next_pc, t.zf, t.sf});
    };
    return m_.execute_traced(hook, count);
}

RunResult Recording::run(std::uint64_t count) { return advance(count, nullptr, 0, nullptr); }

// The debugger's pace: one instruction at a time, without a trace hook.
RunResult Recording::step() {
    const Word pc = m_.pc();
    const Word word = pc < m_.code().size() ? m_.code()[pc] : 0;
    RunResult r = m_.execute_capped(1);
    if (r.steps == 0 || r.end == RunResult::End::fault) return r;
    ++now_;
    depth_ += opcode_delta(word);
    if (now_ > end_) end_ = now_;
    if (now_ >= snaps_.back()->step + interval_)
        take_snapshot(Live{m_.registers(), m_.pc(), m_.zero_flag(), m_.sign_flag()});
    return r;
}

void Recording::seek(std::uint64_t target) {
    if (target > end_) throw std::out_of_range("state beyond the recorded run");
    if (target == now_) return;
    // The latest snapshot at or before the target, unless going forward
    // from here is shorter.
    auto it = std::upper_bound(snaps_.begin(), snaps_.end(), target,
                               [](std::uint64_t t, const std::unique_ptr<Snapshot>& s) { return t < s->step; });
    const Snapshot& s = **std::prev(it);
    if (target < now_ || s.step > now_) restore(s);
    advance(target - now_, nullptr, 0, nullptr);
}

std::optional<std::uint64_t> Recording::find_last(std::uint64_t low, std::uint64_t high, Probe& probe) {
    high = std::min(high, end_);
    for (std::size_t i = snaps_.size(); i-- > 0;) {
        const std::uint64_t first = snaps_[i]->step;
        if (first >= high) continue;
        if (i + 1 < snaps_.size() && snaps_[i + 1]->step <= low) break;
        const std::uint64_t last = i + 1 < snaps_.size() ? std::min(high, snaps_[i + 1]->step) : high;
        restore(*snaps_[i]);
        probe.begin(m_);
        std::optional<std::uint64_t> found;
        advance(last - first, &probe, low, &found);
        if (found) return found;
        if (first <= low) break;
    }
    return std::nullopt;
}

void Recording::truncate() {
    while (snaps_.size() > 1 && snaps_.back()->step > now_) {
        for (auto& page : snaps_.back()->pages)
            if (page.use_count() == 1) bytes_ -= sizeof(Page);
        bytes_ -= sizeof(Snapshot);
        snaps_.pop_back();
    }
    end_ = now_;
    output_.forget_future();
}

}  // namespace vm::record
