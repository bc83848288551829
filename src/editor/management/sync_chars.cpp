// Copying the single characters another tokenizer has and this one lacks,
// making room for them by removing the longest ordinary tokens first, so that
// the vocabulary does not grow; then compacting the IDs.

#include "editor/editor.h"
#include "editor/management/progress_text.h"

namespace lexmill {

Result<SyncReport> Editor::sync_single_chars(const std::string& source_path, uint32_t min_id,
                                             const ProgressSink& sink, const IoHooks& hooks) {
    Result<Editor> source = load_tokenizer_file(source_path, hooks);
    if (!source) return reported_as(ErrorKind::source_load, source.error());

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

    SyncProgress progress(sink);
    progress.planning(missing.size());
    std::vector<Sym> candidates = shrink_candidates(missing.size(), min_id);
    progress.candidates_found(candidates.size(), missing.size());

    progress.removal_started(candidates.size());
    FreeIds free_ids;
    uint64_t processed = 0;
    for (Sym sym : candidates) {
        ++processed;
        if (!doc_.model.vocab.contains(sym)) continue;  // an earlier cascade took it
        RemovalResult removal = remove_cascade(doc_.strings.view(sym), cascade_of(sym), &free_ids);
        report.total_tokens_removed += removal.removed_tokens.size();
        report.total_merges_removed += removal.removed_merges.size();
        progress.removed(processed);
    }
    compact_merges();
    progress.removal_finished();

    // A character goes in only where a removal made room for it, under an ID
    // that removal freed.
    progress.adding(missing.size());
    for (const std::string& character : missing) {
        if (vocab_size() >= report.initial_vocab_size) break;
        Journal journal = add_atomically([&] { ensure_token(doc_.strings.intern(character)); });
        renumber(journal, free_ids);
        settle_changes();
        ++report.chars_added_count;
    }
    report.chars_not_added = missing.size() - report.chars_added_count;
    progress.added(report.chars_added_count);

    progress.reindexing();
    ReindexResult reindex = reindex_vocab();
    progress.reindexed(reindex.ids_remapped, reindex.gaps_removed);
    report.final_vocab_size = vocab_size();
    return report;
}

}  // namespace lexmill
