"""Opens a tokenizer.json and prints what it holds.

    python3 examples/inspect_tokenizer.py [path/to/tokenizer.json]

Without an argument it opens the small tokenizer shipped beside this script.
"""

import sys
from pathlib import Path

import lexmill


def main(path):
    editor = lexmill.Lexmill(str(path))
    print(f"{path}: {editor!r}")

    stats = editor.get_stats()
    print(f"  single characters: {stats.single_char_count}")
    print(f"  special-looking tokens: {stats.special_token_count}")
    print(f"  IDs from {stats.min_token_id} to {stats.max_token_id}")
    longest = max(stats.length_distribution, default=(0, 0))
    print(f"  longest token: {longest[0]} characters ({longest[1]} of them)")

    has_gaps, gaps, low, high = editor.check_vocab_gaps()
    print(f"  ID gaps: {gaps}" if has_gaps else "  IDs are contiguous")

    print("  first merges:", ", ".join(f"{a!r}+{b!r}" for a, b in editor.get_merges()[:5]))
    for token in ["Ġthe", "Ġtoken", "<|endoftext|>", "Ġnot-a-token"]:
        print(f"  {token!r}: ID {editor.get_token_id(token)}")
    print(f"  token with ID {high}: {editor.get_token_by_id(high)!r}")


if __name__ == "__main__":
    main(Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("tiny.tokenizer.json"))
