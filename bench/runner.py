#!/usr/bin/env python3
"""Times vandrel against the baseline converter on each benchmark set, alternately, and checks
that both write identical outputs.

    runner.py [--replace] VANDREL BASELINE CORPUS [ROUNDS]

Prints per set: the median time of each, the median of the per-round ratios vandrel / baseline,
and the peak resident memory of each (GNU time).

Before every timed run the outputs of the program about to run are removed and the file system
is synced, untimed, so that each run writes new files on an idle disk, as a first conversion of
a folder does. With --replace the outputs of the previous round stay and are replaced: on ext4
that makes both programs write the replaced files' data out to disk before they end (ext4 does
so for a file truncated or renamed over an existing one), so the times then include disk
writes and vary much more."""
import filecmp
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

WINDOW = ["0", "4095"]


def timed(command, directory, outputs_prefix=None, names=()):
    if outputs_prefix is not None:
        for name in names:
            (directory / f"{outputs_prefix}{name}").unlink(missing_ok=True)
        os.sync()
    with tempfile.NamedTemporaryFile("r") as rss:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss.name, *command], cwd=directory,
                       check=True, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        return elapsed, int(rss.read().split()[-1])


def main():
    args = sys.argv[1:]
    replace = "--replace" in args
    args = [a for a in args if a != "--replace"]
    vandrel, baseline, corpus = (Path(a).resolve() for a in args[0:3])
    rounds = int(args[3]) if len(args) > 3 else 5
    print(f"| set | vandrel s | baseline s | vandrel / baseline | vandrel MiB | baseline MiB | pixels |")
    print(f"|---|---|---|---|---|---|---|")
    failed = False
    for folder in sorted(p for p in corpus.iterdir() if (p / "list.txt").exists()):
        commands = {"vandrel": [str(vandrel), "list.txt", *WINDOW],
                    "baseline": [str(baseline), "list.txt", *WINDOW]}
        names = (folder / "list.txt").read_text().split()
        prefixes = {"vandrel": None, "baseline": None} if replace else {"vandrel": "o-", "baseline": "b-"}
        for command in commands.values():
            timed(command, folder)  # warm-up
        times = {"vandrel": [], "baseline": []}
        rss = {"vandrel": 0, "baseline": 0}
        for r in range(rounds):
            order = ["vandrel", "baseline"] if r % 2 == 0 else ["baseline", "vandrel"]
            for who in order:
                seconds, kib = timed(commands[who], folder, prefixes[who], names)
                times[who].append(seconds)
                rss[who] = max(rss[who], kib)
        same = all(filecmp.cmp(folder / f"o-{n}", folder / f"b-{n}", shallow=False) for n in names)
        failed |= not same
        pixels = sum(int(n.split("x")[0]) ** 2 for n in [names[0]]) * len(names)
        ratios = [v / b for v, b in zip(times["vandrel"], times["baseline"])]
        print(f"| {folder.name} | {statistics.median(times['vandrel']):.3f} | "
              f"{statistics.median(times['baseline']):.3f} | {statistics.median(ratios):.2f} | "
              f"{rss['vandrel'] / 1024:.0f} | {rss['baseline'] / 1024:.0f} | {pixels}"
              f"{'' if same else ' OUTPUTS DIFFER'} |")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
