#pragma once
// The editor: one tokenizer document plus the bookkeeping that makes editing
// cost what it changes — the merge indexes (which merges produce and which use
// each token), the reserved IDs and the next ID to try.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <string_view>
#include <utility>
#include <vector>

#include "document/tokenizer.h"
#include "editor/dense_id_set.h"
#include "editor/flat_set.h"
#include "editor/merge_index.h"
#include "editor/records.h"
#include "editor/victim_order.h"
#include "result.h"

namespace lexmill {

struct VocabEntry {
    std::string_view token;
    uint32_t id;
};

struct MergeView {
    std::string_view left;
    std::string_view right;
};

class Editor {
public:
    // Opening. Errors of load_tokenizer_file have kind `load`; from_json
    // reports parse errors as `json` and non-BPE models as `unsupported_model`.
    static Result<Editor> load_tokenizer_file(const std::string& path);
    static Result<Editor> from_json(std::string_view text);
    static Editor from_tokenizer(Tokenizer doc);

    // Exporting and saving.
    std::string to_json() const;
    Result<void> save(const std::string& path) const;

    // Queries. Views returned here stay valid until the editor next changes.
    size_t vocab_size() const { return doc_.model.vocab.size(); }
    size_t merges_count() const { return doc_.model.merges.size(); }
    bool has_token(std::string_view token) const;
    std::optional<uint32_t> get_token_id(std::string_view token) const;
    std::optional<std::string_view> get_token_by_id(uint32_t id) const;
    std::vector<VocabEntry> get_vocab() const;
    std::vector<MergeView> get_merges() const;
    std::vector<VocabEntry> get_single_char_tokens() const;
    GapReport check_vocab_gaps() const;
    TokenizerStats get_stats() const;

    // Merge validation.
    ValidationResult validate_merges() const;
    uint64_t remove_invalid_merges();

    // Addition.
    AdditionResult add_token(std::string_view token);
    std::vector<AdditionResult> add_tokens(const std::vector<std::string>& tokens);
    bool add_token_atomic(std::string_view token);

    // Removal.
    RemovalResult remove_token(std::string_view token);
    std::vector<RemovalResult> remove_tokens(const std::vector<std::string>& tokens);

    // Shrinking and compacting.
    std::vector<ShrinkCandidate> find_tokens_to_shrink(uint64_t count, uint32_t min_id) const;
    ShrinkResult shrink(uint64_t count, uint32_t min_id);
    ReindexResult reindex_vocab();

    // Fixed-size maintenance. Progress text goes to `progress`.
    using ProgressSink = std::function<void(std::string_view)>;
    KeepSizeReport add_tokens_keep_size(const std::vector<std::string>& tokens,
                                        const std::optional<std::vector<std::string>>& whitelist);
    Result<SyncReport> sync_single_chars(const std::string& source_path, uint32_t min_id,
                                         const ProgressSink& progress);

    // Merging a source tokenizer into this one: merge_from opens the source
    // (errors of kind source_load), merge_tokenizer merges an open one
    // (errors of kind merge).
    Result<MergeTokenizerResult> merge_from(const std::string& source_path, uint64_t max_vocab_size);
    Result<MergeTokenizerResult> merge_tokenizer(const Editor& source, uint64_t max_vocab_size);

    // Plain text in this tokenizer's spelling: NFC when its normalizer asks
    // for it, then byte-level characters or the space marker. Fails (kind
    // spelling) when the tokenizer is neither byte-level nor space-marker.
    Result<std::string> spell(std::string_view text) const;

    const Tokenizer& document() const { return doc_; }
    const DenseIdSet& used_ids() const { return used_ids_; }
    uint32_t next_id() const { return next_id_; }

private:
    explicit Editor(Tokenizer doc);

    // What the edit in progress did, for the removal order of keep-size
    // additions: tokens inserted and removed, and the results of merges
    // appended or removed (their tokens may have gained or lost a producer).
    struct Changes {
        std::vector<Sym> inserted;
        std::vector<Sym> removed;
        std::vector<Sym> results;
        void clear() {
            inserted.clear();
            removed.clear();
            results.clear();
        }
    };

    // Every vocabulary ID plus the "id" of every added-token entry that holds
    // an unsigned 32-bit integer; next_id_ one above the largest.
    void rebuild_used_ids();
    // The ID of a removed token stays reserved while anything else holds it.
    void release_id(uint32_t id);
    MergeIndex& index();
    uint32_t allocate_id();
    // Inserts `sym` with a new ID unless it is already in the vocabulary.
    void ensure_token(Sym sym);
    bool has_merge(Sym left, Sym right) const;
    void append_merge(Sym left, Sym right, std::vector<MergeText>& added);
    void build_char_chain(std::string_view text, std::vector<MergeText>& added);
    // Hands the changes of the edit in progress to the removal order.
    void settle_changes();
    std::vector<Sym> shrink_candidates(uint64_t count, uint32_t min_id) const;
    // Drops removed merge entries once they outnumber the live ones.
    void compact_merges();

    // The vocabulary sorted by ascending ID, equal IDs in bytewise token order.
    std::vector<Sym> vocab_in_id_order() const;
    // Called after every change of the vocabulary.
    void vocab_changed() { id_lookup_.reset(); }

    Tokenizer doc_;
    MergeIndex index_;
    // No vocabulary token has more bytes than this; bounds the prefix search.
    size_t longest_token_ = 0;
    DenseIdSet used_ids_;
    uint32_t next_id_ = 1;
    Changes changes_;
    // When set, settle_changes() also hands the changes to this log.
    Changes* change_log_ = nullptr;
    // Built by the first keep-size addition, then kept up to date.
    std::optional<VictimOrder> victims_;
    // IDs reserved by added-token entries, and IDs held by more than one
    // vocabulary token with their number of holders (documents may share IDs
    // between tokens; no edit creates such sharing).
    DenseIdSet added_ids_;
    std::unordered_map<uint32_t, uint32_t> shared_ids_;

    // ID → bytewise-smallest token with that ID; built on the first lookup by
    // ID and dropped by any change of the vocabulary.
    mutable std::optional<std::vector<std::pair<uint32_t, Sym>>> id_lookup_;
};

}  // namespace lexmill
