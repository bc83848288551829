#pragma once
// The editor: one tokenizer document plus the bookkeeping that makes editing
// cost what it changes — the merge indexes (which merges produce and which use
// each token), the reserved IDs and the next ID to try.

#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <string>
#include <unordered_map>
#include <string_view>
#include <utility>
#include <vector>

#include "document/tokenizer.h"
#include "editor/dense_set.h"
#include "editor/flat_set.h"
#include "editor/id_order.h"
#include "editor/merge_index.h"
#include "editor/records.h"
#include "editor/victim_order.h"
#include "result.h"

namespace lexmill {

class IoHooks;
struct MergedTokenizer;

struct VocabEntry {
    std::string_view token;
    uint32_t id;
};

// IDs freed by the removals of an edit, handed out again lowest first.
using FreeIds = std::priority_queue<uint32_t, std::vector<uint32_t>, std::greater<uint32_t>>;

struct MergeView {
    std::string_view left;
    std::string_view right;
};

// A string as for_each_merge hands it out: a handle, equal for equal strings
// and below Editor::string_handle_bound(), on which a caller converting many
// strings can keep what it made of each; and the text, looked up only when
// asked for. Valid until the editor next changes.
class StringRef {
public:
    StringRef(const StringPool& strings, Sym sym) : strings_(&strings), sym_(sym) {}
    uint32_t handle() const { return sym_; }
    std::string_view text() const { return strings_->view(sym_); }

private:
    const StringPool* strings_;
    Sym sym_;
};

class Editor {
public:
    // Opening. Errors of load_tokenizer_file have kind `load`; from_json
    // reports parse errors as `json` and non-BPE models as `unsupported_model`.
    // Every operation that touches a file takes the caller's hooks, and
    // returns an error of kind `interrupted` when they ask it to stop.
    static Result<Editor> load_tokenizer_file(const std::string& path, const IoHooks& hooks);
    static Result<Editor> from_json(std::string_view text);
    static Editor from_tokenizer(Tokenizer doc);

    // Exporting and saving.
    std::string to_json() const;
    Result<void> save(const std::string& path, const IoHooks& hooks) const;

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
    // Calls visit(StringRef left, StringRef right) for every merge in list
    // order, for callers that convert the whole list into a form of their own
    // without a copy in between.
    template <typename Visit>
    void for_each_merge(Visit&& visit) const {
        doc_.model.merges.for_each(
            [&](uint32_t, const Merge& m) { visit(StringRef(doc_.strings, m.left), StringRef(doc_.strings, m.right)); });
    }
    uint32_t string_handle_bound() const { return doc_.strings.size(); }

    // Merge validation.
    ValidationResult validate_merges() const;
    uint64_t remove_invalid_merges();

    // Addition. `chain` builds the merges the classic way (longest prefix,
    // then character by character); `reachable` chains the pieces that the
    // current merges already cut the token into, so that BPE produces it.
    AdditionResult add_token(std::string_view token, AdditionMethod method = AdditionMethod::chain);
    std::vector<AdditionResult> add_tokens(const std::vector<std::string>& tokens,
                                           AdditionMethod method = AdditionMethod::chain);
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
                                        const std::optional<std::vector<std::string>>& whitelist,
                                        AdditionMethod method = AdditionMethod::chain);
    Result<SyncReport> sync_single_chars(const std::string& source_path, uint32_t min_id,
                                         const ProgressSink& progress, const IoHooks& hooks);

    // Added tokens. A reader such as the tokenizers library numbers an added
    // token whose content is no vocabulary entry itself, from the number of
    // vocabulary entries upward, whatever "id" the document gives it.
    // pin_added_tokens() enters every such token into the vocabulary under
    // its own "id", so that the reader keeps it; it returns how many it entered.
    uint64_t pin_added_tokens();
    // How many added-token entries such a reader would give another ID than
    // the one written.
    uint64_t added_tokens_read_differently() const;

    // Merging a source tokenizer into this one: merge_from opens the source
    // (errors of kind source_load), merge_tokenizer merges an open one
    // (errors of kind merge).
    Result<MergeTokenizerResult> merge_from(const std::string& source_path, uint64_t max_vocab_size,
                                            const IoHooks& hooks);
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

    // What the edit in progress did, for the lasting removal order of
    // keep-size additions: tokens inserted, and the results of merges
    // appended or removed (their tokens may have gained or lost a producer).
    struct Changes {
        std::vector<Sym> inserted;
        std::vector<Sym> results;
        void clear() {
            inserted.clear();
            results.clear();
        }
    };

    // Everything an addition creates, so that one that fails halfway (out of
    // memory, say) can be taken back whole: tokens with the IDs they took,
    // and where the merge list, the string pool and the ID counter stood.
    struct Journal {
        StringPool::Mark strings;
        size_t merge_entries;
        uint32_t next_id;
        size_t longest_token;
        std::vector<std::pair<Sym, uint32_t>> inserted;
    };

    // The vocabulary tokens a removal cascade takes, and the merge entries it
    // removes; computed before anything changes.
    struct Cascade {
        std::vector<Sym> marked;
        std::vector<uint32_t> merges;
    };

    // Every vocabulary ID plus the "id" of every added-token entry that holds
    // an unsigned 32-bit integer; next_id_ one above the largest.
    void rebuild_used_ids();
    // longest_token_ for the vocabulary as it stands.
    void measure_longest_token() noexcept;
    // The contents of the added-token entries, as handles.
    void collect_registered();
    // The ID of a removed token stays reserved while anything else holds it;
    // true when it became free.
    bool release_id(uint32_t id);
    MergeIndex& index();
    uint32_t allocate_id();

    // Addition, inside a journal: add_atomically() runs `add` and takes back
    // everything it did when it throws; the Journal it returns lists what
    // was inserted, for undo() or renumber().
    Journal add_atomically(const std::function<void()>& add);
    void undo(const Journal& journal) noexcept;
    // Gives the tokens a journal inserted the lowest of `free_ids` instead of
    // the IDs they took, and puts next_id_ back where it stood.
    void renumber(const Journal& journal, FreeIds& free_ids) noexcept;
    AdditionResult add_checked(std::string_view token, AdditionMethod method, Journal* journal = nullptr);
    void add_with_chain(std::string_view token, AdditionResult& result);
    void add_reachable(std::string_view token, AdditionResult& result);
    // Inserts `sym` with a new ID unless it is already in the vocabulary.
    void ensure_token(Sym sym);
    bool has_merge(Sym left, Sym right) const;
    void append_merge(Sym left, Sym right, std::vector<MergeText>& added);
    void build_char_chain(std::string_view text, std::vector<MergeText>& added);

    // Removal: the cascade of `root` as the indexes stand, then its removal,
    // which adds every ID that became free to `freed`. Merge entries are
    // only marked removed; compact_merges() drops them once they pile up.
    Cascade cascade_of(Sym root);
    RemovalResult remove_cascade(std::string_view token, const Cascade& cascade, FreeIds* freed = nullptr);
    void compact_merges();

    // The work of one add_tokens_keep_size call.
    class KeepSizeRun;

    // Hands the changes of the edit in progress to the removal order.
    void settle_changes() noexcept;
    std::vector<Sym> shrink_candidates(uint64_t count, uint32_t min_id) const;

    // The vocabulary sorted by ascending ID, equal IDs in bytewise token order.
    std::vector<Sym> vocab_in_id_order() const { return tokens_by_id(doc_); }
    // Called after every change of the vocabulary.
    void vocab_changed() { id_lookup_.reset(); }

    // Puts a merged tokenizer in place of this one's vocabulary, merges and
    // added tokens, with the bookkeeping that goes with them.
    void install_merged(MergedTokenizer& merged) noexcept;

    Tokenizer doc_;
    MergeIndex index_;
    // No vocabulary token has more bytes than this; bounds the prefix search.
    size_t longest_token_ = 0;
    DenseIdSet used_ids_;
    uint32_t next_id_ = 1;
    Changes changes_;
    // Set while an addition runs: the journal it records into.
    Journal* journal_ = nullptr;
    // Built by the first keep-size addition, then kept up to date.
    std::optional<VictimOrder> victims_;
    // IDs reserved by added-token entries, and IDs held by more than one
    // vocabulary token with their number of holders (documents may share IDs
    // between tokens; no edit creates such sharing).
    DenseIdSet added_ids_;
    std::unordered_map<uint32_t, uint32_t> shared_ids_;
    // Handles of the contents of added-token entries: tokens that shrinking
    // and keep-size additions never choose; and the content of each entry in
    // list order (kNoSym where it has none), for reindexing and merging,
    // which rewrite no more of an entry than its "id".
    DenseTokenSet registered_;
    std::vector<Sym> added_contents_;

    // ID → bytewise-smallest token with that ID; built on the first lookup by
    // ID and dropped by any change of the vocabulary.
    mutable std::optional<std::vector<std::pair<uint32_t, Sym>>> id_lookup_;
};

}  // namespace lexmill
