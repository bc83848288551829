// Fixed-size maintenance: adding tokens while paying for each with a removal,
// and copying missing single characters from another tokenizer.

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "editor/editor.h"
#include "editor/token_text.h"

namespace lexmill {

namespace {

// The unprotected vocabulary tokens, best victim first: longest (in
// characters), then produced by some merge, then bytewise smallest. A heap
// whose entries are checked when they surface: every edit pushes fresh entries
// for the tokens it touched, and an entry that no longer describes its token
// (gone from the vocabulary, or produced-ness changed) is dropped, so each
// pick costs a logarithmic amount instead of a sort of the whole vocabulary.
class VictimQueue {
public:
    VictimQueue(const Tokenizer& doc, const MergeIndex& index, const IdSet& protect)
        : doc_(doc), index_(index), protect_(protect) {
        for (Sym sym : doc.model.vocab.members()) push(sym);
        std::make_heap(heap_.begin(), heap_.end(), Lower{&doc_.strings});
    }

    void update(const std::vector<Sym>& touched) {
        for (Sym sym : touched) {
            size_t before = heap_.size();
            push(sym);
            if (heap_.size() != before) std::push_heap(heap_.begin(), heap_.end(), Lower{&doc_.strings});
        }
    }

    // The best victim, or kNoSym when no token may be removed.
    Sym pick() {
        while (!heap_.empty()) {
            std::pop_heap(heap_.begin(), heap_.end(), Lower{&doc_.strings});
            Entry top = heap_.back();
            heap_.pop_back();
            if (!eligible(top.sym)) continue;
            if (top.produced != produced(top.sym)) {
                push(top.sym);
                std::push_heap(heap_.begin(), heap_.end(), Lower{&doc_.strings});
                continue;
            }
            return top.sym;
        }
        return kNoSym;
    }

private:
    struct Entry {
        uint32_t chars;
        bool produced;
        Sym sym;
    };
    // Heap order: a is a worse victim than b.
    struct Lower {
        const StringPool* strings;
        bool operator()(const Entry& a, const Entry& b) const {
            if (a.chars != b.chars) return a.chars < b.chars;
            if (a.produced != b.produced) return !a.produced;
            return strings->view(a.sym) > strings->view(b.sym);
        }
    };

    bool eligible(Sym sym) const { return doc_.model.vocab.contains(sym) && !protect_.contains(sym); }
    bool produced(Sym sym) const { return index_.first_producer(sym, doc_.model.merges) != MergeIndex::kNone; }
    void push(Sym sym) {
        if (eligible(sym)) heap_.push_back(Entry{doc_.strings.char_count(sym), produced(sym), sym});
    }

    const Tokenizer& doc_;
    const MergeIndex& index_;
    const IdSet& protect_;
    std::vector<Entry> heap_;
};

std::string format(const char* pattern, auto... values) {
    char buffer[256];
    int n = std::snprintf(buffer, sizeof buffer, pattern, values...);
    return std::string(buffer, static_cast<size_t>(std::max(n, 0)));
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

KeepSizeReport Editor::add_tokens_keep_size(const std::vector<std::string>& tokens,
                                            const std::optional<std::vector<std::string>>& whitelist) {
    KeepSizeReport report;
    report.initial_vocab_size = vocab_size();
    report.tokens_requested = tokens.size();

    // Protected: the whitelist, the single characters and bracketed tokens
    // present now, and the space marker, decided once before anything changes.
    IdSet protect;
    if (whitelist) {
        for (const std::string& token : *whitelist) protect.insert(doc_.strings.intern(token));
    }
    for (Sym sym : doc_.model.vocab.members()) {
        if (doc_.strings.char_count(sym) == 1 || is_bracketed(doc_.strings.view(sym))) protect.insert(sym);
    }
    protect.insert(doc_.strings.intern("\u2581"));

    std::optional<VictimQueue> victims;  // built when the first victim is needed
    Touched touched;
    for (const std::string& token : tokens) {
        if (doc_.model.vocab.contains(doc_.strings.find(token))) continue;
        touched.clear();
        add_token(token, &touched);
        ++report.tokens_added;
        if (victims) victims->update(touched);
        if (vocab_size() <= report.initial_vocab_size) continue;
        if (!victims) victims.emplace(doc_, index(), protect);
        Sym victim = victims->pick();
        if (victim == kNoSym) continue;
        touched.clear();
        remove_token(doc_.strings.view(victim), &touched);
        ++report.tokens_removed;
        victims->update(touched);
    }
    report.final_vocab_size = vocab_size();
    return report;
}

Result<SyncReport> Editor::sync_single_chars(const std::string& source_path, uint32_t min_id,
                                             const ProgressSink& progress) {
    Result<Editor> source = load_tokenizer_file(source_path);
    if (!source) return Error{ErrorKind::source_load, source.error().message};

    SyncReport report;
    std::vector<std::string> missing;
    const Tokenizer& other = source->document();
    for (Sym sym : other.model.vocab.sorted(other.strings)) {
        if (other.strings.char_count(sym) != 1) continue;
        ++report.chars_in_source;
        std::string_view text = other.strings.view(sym);
        if (!has_token(text)) missing.emplace_back(text);
    }
    report.chars_already_present = report.chars_in_source - missing.size();
    report.initial_vocab_size = vocab_size();
    report.final_vocab_size = report.initial_vocab_size;
    if (missing.empty()) return report;

    const uint64_t m = missing.size();
    progress(format("\n   Pre-computing %llu tokens to remove...\n", static_cast<unsigned long long>(m)));
    std::vector<Sym> candidates = shrink_candidates(m, min_id);
    const uint64_t c = candidates.size();
    progress(format("   Found %llu candidate tokens for removal\n", static_cast<unsigned long long>(c)));
    if (c < m) {
        progress(format("   WARNING: Only found %llu tokens to remove, but need %llu\n",
                        static_cast<unsigned long long>(c), static_cast<unsigned long long>(m)));
    }
    progress(format("\n   Phase 1: Removing %llu tokens...\n", static_cast<unsigned long long>(c)));

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point last_line = start;
    uint64_t processed = 0;
    for (Sym sym : candidates) {
        if (!doc_.model.vocab.contains(sym)) {
            ++processed;  // an earlier cascade took it
            continue;
        }
        RemovalResult removal = remove_token(doc_.strings.view(sym), nullptr);
        report.total_tokens_removed += removal.removed_tokens.size();
        report.total_merges_removed += removal.removed_merges.size();
        ++processed;
        Clock::time_point now = Clock::now();
        auto since_line = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_line).count();
        if (since_line > 99 || processed == c) {
            double fraction = static_cast<double>(processed) / static_cast<double>(c);
            double elapsed = std::chrono::duration<double>(now - start).count();
            double eta = fraction > 0 ? elapsed / fraction - elapsed : 0.0;
            progress(format("\r   [%5.1f%%] %llu/%llu removed | Elapsed: %.1fs | ETA: %.1fs    ", fraction * 100,
                            static_cast<unsigned long long>(processed), static_cast<unsigned long long>(c), elapsed,
                            eta));
            last_line = now;
        }
    }
    progress("\n");

    progress(format("\n   Phase 2: Adding %llu single-char tokens...\n", static_cast<unsigned long long>(m)));
    const Clock::time_point adding = Clock::now();
    for (const std::string& character : missing) add_token_atomic(character);
    progress(format("   Added %llu tokens in %.2fs\n", static_cast<unsigned long long>(m), seconds_since(adding)));

    progress("\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n");
    ReindexResult reindex = reindex_vocab();
    progress(format("   Reindexed %llu IDs, removed %llu gaps\n", static_cast<unsigned long long>(reindex.ids_remapped),
                    static_cast<unsigned long long>(reindex.gaps_removed)));

    report.chars_added_count = m;
    report.final_vocab_size = vocab_size();
    return report;
}

}  // namespace lexmill
