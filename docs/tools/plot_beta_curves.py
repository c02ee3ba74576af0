#!/usr/bin/python3
"""Draws the eight availability curves A to H from the table that beta_curves prints.

Usage: beta_curves | /usr/bin/python3 docs/tools/plot_beta_curves.py OUTPUT.png
       /usr/bin/python3 docs/tools/plot_beta_curves.py OUTPUT.png TABLE.txt

The values are the program's own (Beta_function); this script only draws them.
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

LABELS = {
    "A": "A  1",
    "B": "B  1 − exp(−6.68 x)",
    "C": "C  x",
    "D": "D  exp(−5 (1 − x/0.7)) − exp(−5), at most 1",
    "E": "E  exp(−4 (1 − x/0.5)) − exp(−4), at most 1",
    "F": "F  exp(−3 (1 − x/0.3)) − exp(−3), at most 1",
    "G": "G  x/0.7, at most 1",
    "H": "H  x/0.5, at most 1",
}
STYLES = {
    "A": ("black", "-"),
    "B": ("tab:purple", "-"),
    "C": ("tab:gray", "--"),
    "D": ("tab:blue", "-"),
    "E": ("tab:green", "-"),
    "F": ("tab:orange", "-"),
    "G": ("tab:blue", ":"),
    "H": ("tab:green", ":"),
}


def read_table(lines):
    rows = [line.rstrip("\n").split("\t") for line in lines if line.strip()]
    names = rows[0]
    if names[0] != "x" or names[1:] != list("ABCDEFGH"):
        sys.exit("unexpected header: %r" % rows[0])
    columns = {name: [] for name in names}
    for row in rows[1:]:
        if len(row) != len(names):
            sys.exit("a row with %d fields, not %d" % (len(row), len(names)))
        for name, text in zip(names, row):
            columns[name].append(float(text))
    return columns


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    if len(sys.argv) == 3:
        with open(sys.argv[2], encoding="ascii") as f:
            columns = read_table(f.readlines())
    else:
        columns = read_table(sys.stdin.readlines())

    fig, ax = plt.subplots(figsize=(8.0, 5.6), dpi=120)
    x = columns["x"]
    for name in "ABCDEFGH":
        colour, style = STYLES[name]
        ax.plot(x, columns[name], color=colour, linestyle=style, linewidth=1.8, label=LABELS[name])
    ax.set_xlim(0.0, 1.0)
    ax.set_ylim(0.0, 1.05)
    ax.set_xlabel("relative soil water x = soil water / field capacity")
    ax.set_ylabel("availability (share of a deficit day's shortfall drawn)")
    ax.set_title("Vadoset's declining availability functions A to H")
    ax.grid(True, color="0.88")
    ax.legend(loc="lower right", fontsize=8.5, framealpha=0.95)
    fig.tight_layout()
    # No software version in the file, so the same values give the same bytes.
    fig.savefig(sys.argv[1], metadata={"Software": None})


if __name__ == "__main__":
    main()
