// Fixed-size maintenance: adding tokens while paying for each with a removal,
// and copying missing single characters from another tokenizer.

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "editor/editor.h"

namespace lexmill {

namespace {

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

    // Protected: the whitelist, the space marker, and the single characters
    // and bracketed tokens present at the start. Tokens of ordinary form come
    // from the editor's lasting removal order; tokens of protected form are
    // candidates only when this call inserted them without their having been
    // present at its start, which the call tracks itself.
    DenseIdSet whitelisted;
    if (whitelist) {
        for (const std::string& token : *whitelist) whitelisted.insert(doc_.strings.intern(token));
    }
    const Sym marker = doc_.strings.intern("\u2581");
    if (!victims_) victims_.emplace(doc_, index());
    VictimHeap& order = victims_->heap();
    VictimHeap inserted_here;          // protected form, not present at the start
    DenseIdSet present_at_start;       // protected form, removed during the call
    DenseIdSet inserted_during;        // anything inserted during the call
    std::vector<VictimHeap::Entry> held;  // whitelisted entries of the lasting order

    Changes log;
    change_log_ = &log;
    auto note_changes = [&] {
        for (Sym sym : log.removed) {
            if (has_protected_form(doc_.strings, sym) && !inserted_during.contains(sym)) present_at_start.insert(sym);
        }
        for (Sym sym : log.inserted) {
            if (has_protected_form(doc_.strings, sym) && sym != marker && !present_at_start.contains(sym)) {
                inserted_here.push(doc_, index_, sym);
            }
            inserted_during.insert(sym);
        }
        log.clear();
    };
    auto pick = [&]() -> Sym {
        std::optional<VictimHeap::Entry> lasting = order.top(doc_, index_);
        while (lasting && whitelisted.contains(lasting->sym)) {
            held.push_back(*lasting);
            order.pop(doc_);
            lasting = order.top(doc_, index_);
        }
        std::optional<VictimHeap::Entry> local = inserted_here.top(doc_, index_);
        while (local && (whitelisted.contains(local->sym) || present_at_start.contains(local->sym))) {
            inserted_here.pop(doc_);
            local = inserted_here.top(doc_, index_);
        }
        if (local && (!lasting || VictimHeap::before(*local, *lasting, doc_.strings))) {
            inserted_here.pop(doc_);
            return local->sym;
        }
        if (!lasting) return kNoSym;
        order.pop(doc_);
        return lasting->sym;
    };

    for (const std::string& token : tokens) {
        if (doc_.model.vocab.contains(doc_.strings.find(token))) continue;
        add_token(token);
        note_changes();
        ++report.tokens_added;
        if (vocab_size() <= report.initial_vocab_size) continue;
        Sym victim = pick();
        if (victim == kNoSym) continue;
        remove_token(doc_.strings.view(victim));
        note_changes();
        ++report.tokens_removed;
    }
    change_log_ = nullptr;
    for (const VictimHeap::Entry& entry : held) order.push(doc_, index_, entry.sym);
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
        RemovalResult removal = remove_token(doc_.strings.view(sym));
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
