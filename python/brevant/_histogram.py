"""Counts drawn as a bar chart in plain text, for a terminal or a log."""

from __future__ import annotations

BAR = "#"
NARROWEST_BAR = 10


def histogram(counts: dict[str, int], top: int, width: int) -> list[str]:
    """One line per outcome, the most frequent first, with its bar, count and share of
    the shots; past the `top` outcomes, one line for the rest. The lines fill `width`
    columns, or are as wide as their bars need (at least NARROWEST_BAR)."""
    ranked = sorted(counts.items(), key=lambda item: (-item[1], item[0]))
    rows = ranked[:top]
    rest = ranked[top:]
    if rest:
        rows.append((f"{len(rest)} others", sum(count for _, count in rest)))
    if not rows:
        return []
    shots = sum(counts.values())
    label_width = max(len(label) for label, _ in rows)
    count_width = len(str(max(count for _, count in rows)))
    # label, two spaces, the bar, two spaces, the count, two spaces, "100.0%"
    bar_width = max(NARROWEST_BAR, width - label_width - count_width - 12)
    scale = max(count for _, count in rows)
    lines = []
    for label, count in rows:
        bar = BAR * max(round(count / scale * bar_width), 1 if count else 0)
        share = f"{count / shots:.1%}".rjust(6)
        lines.append(f"{label:<{label_width}}  {bar:<{bar_width}}  {count:>{count_width}}  {share}")
    return lines
