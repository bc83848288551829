// Reachable additions: the new token is cut into pieces exactly as BPE cuts
// it with the current merges, and the pieces are then joined by new merges
// appended at the end of the list, each one the first pair of pieces left
// when BPE gets stuck. Because every merge added here ranks below the ones
// BPE used before it, BPE run on the token with the new list takes the same
// steps and then these, and so produces the token whole; merges appended
// later rank lower still and change nothing of that.

#include <queue>
#include <unordered_map>

#include "editor/editor.h"
#include "editor/memory_limit.h"
#include "editor/token_text.h"

namespace lexmill {

namespace {

struct Ranked {
    uint32_t rank;  // the merge's entry: entries are numbered in list order
    Sym result;
};

// One word under BPE, as the tokenizers library runs it: symbols in a linked
// list, candidate merges in a heap ordered by rank and then position, and a
// candidate that no longer matches the pair at its position skipped.
class BpeWord {
public:
    template <typename RankOf>
    BpeWord(const std::vector<Sym>& symbols, RankOf&& rank_of) {
        for (size_t i = 0; i < symbols.size(); ++i) {
            nodes_.push_back({symbols[i], static_cast<int32_t>(i) - 1,
                              i + 1 < symbols.size() ? static_cast<int32_t>(i + 1) : -1, true});
            places_[symbols[i]].push_back(static_cast<int32_t>(i));
        }
        live_ = symbols.size();
        for (size_t i = 0; i + 1 < symbols.size(); ++i) offer(static_cast<int32_t>(i), rank_of);
    }

    size_t pieces() const { return live_; }
    // The first two pieces (at least two must be left).
    std::pair<Sym, Sym> front_pair() const { return {nodes_[0].sym, nodes_[nodes_[0].next].sym}; }

    // Queues every position where `left` is followed by `right`: a merge of
    // that pair has just been appended.
    template <typename RankOf>
    void offer_pair(Sym left, Sym right, RankOf&& rank_of) {
        for (int32_t i : places_[left]) {
            const Node& node = nodes_[i];
            if (node.live && node.sym == left && node.next >= 0 && nodes_[node.next].sym == right) offer(i, rank_of);
        }
    }

    // Merges until no pair of neighbouring pieces has a merge.
    template <typename RankOf>
    void run(RankOf&& rank_of) {
        while (!queue_.empty()) {
            Candidate top = queue_.top();
            queue_.pop();
            Node& node = nodes_[top.pos];
            if (!node.live || node.next < 0) continue;
            std::optional<Ranked> current = rank_of(node.sym, nodes_[node.next].sym);
            if (!current || current->result != top.result) continue;
            Node& right = nodes_[node.next];
            node.sym = top.result;
            places_[top.result].push_back(top.pos);
            right.live = false;
            node.next = right.next;
            if (right.next >= 0) nodes_[right.next].prev = top.pos;
            --live_;
            if (node.prev >= 0) offer(node.prev, rank_of);
            if (node.next >= 0) offer(top.pos, rank_of);
        }
    }

private:
    struct Node {
        Sym sym;
        int32_t prev;
        int32_t next;
        bool live;
    };
    struct Candidate {
        uint32_t rank;
        int32_t pos;
        Sym result;
        bool operator>(const Candidate& other) const {
            return rank != other.rank ? rank > other.rank : pos > other.pos;
        }
    };

    template <typename RankOf>
    void offer(int32_t pos, RankOf&& rank_of) {
        if (std::optional<Ranked> merge = rank_of(nodes_[pos].sym, nodes_[nodes_[pos].next].sym)) {
            queue_.push({merge->rank, pos, merge->result});
        }
    }

    std::vector<Node> nodes_;
    // Where each piece stands or once stood; entries are checked when read.
    std::unordered_map<Sym, std::vector<int32_t>> places_;
    std::priority_queue<Candidate, std::vector<Candidate>, std::greater<Candidate>> queue_;
    size_t live_ = 0;
};

}  // namespace

void Editor::add_reachable(std::string_view token, AdditionResult& result) {
    MergeIndex& idx = index();
    const MergeList& merges = doc_.model.merges;
    PairText pair;
    // A pair's rank is that of its last merge in the list: a reader builds
    // its table of pairs from the list in order, so a later duplicate wins.
    auto rank_of = [&](Sym left, Sym right) -> std::optional<Ranked> {
        Sym joined = pair.find(doc_.strings, left, right);
        if (joined == kNoSym) return std::nullopt;
        uint32_t last = MergeIndex::kNone;
        idx.for_each_producer(joined, merges, [&](uint32_t e) {
            if (merges[e].left == left) last = e;
        });
        if (last == MergeIndex::kNone) return std::nullopt;
        return Ranked{last, joined};
    };

    // Characters the vocabulary lacks are added first: BPE cannot start
    // from a character it does not know.
    std::vector<Sym> characters;
    for (size_t start = 0; start < token.size();) {
        size_t end = next_char_end(token, start);
        characters.push_back(doc_.strings.intern(token.substr(start, end - start)));
        ensure_token(characters.back());
        start = end;
    }

    BpeWord word(characters, rank_of);
    word.run(rank_of);
    // The pieces joined here are stored whole; for a long token with few
    // merges that is quadratic in its length, so memory is checked as it grows.
    uint64_t stored = 0, next_check = uint64_t{64} << 20;
    while (word.pieces() > 1) {
        auto [left, right] = word.front_pair();
        ensure_token(left);
        ensure_token(right);
        std::string_view joined = pair.join(doc_.strings, left, right);
        stored += joined.size();
        if (stored > next_check) {
            if (allocatable_bytes() < stored) throw std::bad_alloc();
            next_check *= 2;
        }
        ensure_token(doc_.strings.intern(joined));
        append_merge(left, right, result.added_merges);
        word.offer_pair(left, right, rank_of);
        word.run(rank_of);
    }
    ensure_token(doc_.strings.intern(token));
    result.method = "reachable";
}

}  // namespace lexmill
