#!/usr/bin/env python3
"""Turns the measurements of bench/run.sh into the results table.

  report.py MEASUREMENTS.tsv MACHINE.txt OUT.md

Each measurement line: case, system (velto or baseline), repetition, bytes, seconds, then CPU
seconds of sender and receiver and their peak resident memory in KiB ("-" where not taken).
Figures are medians over the repetitions, except peak memory, which is the largest seen.
A line "case figure repetition name value" holds one more figure of a case (packets dropped,
requests open at once, ...).
"""
import statistics
import sys
from collections import defaultdict

GIB = 1 << 30

THROUGHPUT = [
    ("file", "1 GiB file", "socat -b 131072 into a file"),
    ("tree", "10,000 files of 4 KiB in 100 folders", "tar c \\| nc -> nc \\| tar x"),
    ("eight", "8 senders x 128 MiB to one receiver", "8 socat pairs"),
    ("link1g", "1 GiB over a link shaped to 1 Gbit/s (tbf, deep queue)",
     "socat -b 131072 into a file, same link"),
    ("link300m", "512 MiB over a link shaped to 300 Mbit/s (tbf, 96 kB queue: drops)",
     "socat -b 131072 into a file, same link"),
]

LATENCY = [
    ("text-1-connect", "1-byte text: connect -> received report", None),
    ("text-1-start", "1-byte text: sender start -> received report", "nc, start -> last byte in"),
    ("text-1-cli", "1-byte text: `velto-cli send --text` start -> received report", None),
    ("text-1048576-connect", "1 MiB text: connect -> received report", None),
    ("text-1048576-start", "1 MiB text: sender start -> received report",
     "nc, start -> last byte in"),
    ("discovery-start", "discovery: `velto-cli receive` start -> other host's peer-added",
     "socat broadcast start -> datagram in"),
    ("discovery-hello", "discovery: hello sent -> other host's peer-added", None),
    ("crowd-table", "crowd: last of 1,000 hellos -> all in `velto-cli receive`'s table", None),
    ("crowd-peers", "crowd: last of 1,000 replies -> all in `velto-cli peers`' table", None),
]


def load(path):
    rows, extra = defaultdict(list), defaultdict(list)
    with open(path) as measurements:
        for line in measurements:
            fields = line.rstrip("\n").split("\t")
            if len(fields) == 5 and fields[1] == "figure":
                extra[(fields[0], fields[3])].append(float(fields[4]))
                continue
            if len(fields) < 9:
                continue
            case, system, _rep, size, seconds, cpu_s, cpu_r, rss_s, rss_r = fields[:9]
            number = lambda text: None if text == "-" else float(text)
            rows[(case, system)].append({
                "bytes": float(size), "seconds": float(seconds),
                "cpu": None if cpu_s == "-" else number(cpu_s) + number(cpu_r),
                "rss_sender": number(rss_s), "rss_receiver": number(rss_r),
            })
    return rows, extra


def throughput(runs):
    return statistics.median(r["bytes"] / 1e6 / r["seconds"] for r in runs)


def cpu_per_gib(runs):
    return statistics.median(r["cpu"] / (r["bytes"] / GIB) for r in runs)


def peak(runs, key):
    return max(r[key] for r in runs) / 1024


def millis(runs):
    values = [r["seconds"] * 1000 for r in runs]
    return statistics.median(values), min(values), max(values)


def crowd_section(extra, figures):
    """The crowd's figures beside the latency rows; fills figures for the targets."""
    if not extra.get(("crowd", "listed")):
        return []
    figures["crowd-listed"] = min(extra[("crowd", "listed")])
    figures["crowd-open"] = max(extra[("crowd", "most-open")])
    pictures = statistics.median(extra[("crowd", "pictures-s")])
    memory = statistics.median(extra[("crowd", "rss-kib-per-peer")])
    out = ["", "## 1,000 computers (median over the repetitions; requests open: most seen)", "",
           "| Figure | Value |", "|---|---|",
           f"| peers in `velto-cli peers --json --wait 1` (the crowd and h1) "
           f"| {figures['crowd-listed']:.0f} at least |",
           f"| last hello -> all 1,000 pictures in (slow server, 0.1 s each) | {pictures:.1f} s |",
           f"| picture requests open at once | {figures['crowd-open']:.0f} at most |",
           f"| receiver's resident memory per peer | {memory:.1f} KiB |"]
    draws = extra.get(("crowd", "draw-ms"))
    if draws:
        figures["crowd-draw"] = max(draws)
        out.append(f"| the program's page: peer list drawn, median / max of {len(draws)} "
                   f"| {statistics.median(draws):.1f} / {max(draws):.1f} ms |")
    elif extra.get(("crowd", "program-ran")):
        out.append("| the program's page: peer list drawn | not measured: the page does not "
                   "report it yet |")
    else:
        out.append("| the program's page: peer list drawn | not measured: no build/ci/app/velto "
                   "or no Xvfb |")
    return out


def main():
    rows, extra = load(sys.argv[1])
    with open(sys.argv[2]) as machine:
        header = machine.read().strip().splitlines()
    out = ["# Velto on the test LAN", ""]
    out += [f"- {line}" for line in header]
    out += ["", "## Throughput (median over the repetitions; memory: largest peak seen)", "",
            "| Case | Velto MB/s | Baseline MB/s | Ratio | Velto CPU s/GiB | Baseline CPU s/GiB "
            "| CPU ratio | Velto peak RSS sender / receiver | Baseline peak RSS sender / receiver "
            "| Baseline |",
            "|---|---|---|---|---|---|---|---|---|---|"]
    figures = {}
    for case, title, baseline in THROUGHPUT:
        velto, base = rows.get((case, "velto")), rows.get((case, "baseline"))
        if not velto or not base:
            continue
        f = figures[case] = {
            "ratio": throughput(velto) / throughput(base),
            "cpu_ratio": cpu_per_gib(velto) / cpu_per_gib(base),
            "rss_sender": peak(velto, "rss_sender"), "rss_receiver": peak(velto, "rss_receiver"),
        }
        out.append(
            f"| {title} | {throughput(velto):.0f} | {throughput(base):.0f} | {f['ratio']:.0%} "
            f"| {cpu_per_gib(velto):.2f} | {cpu_per_gib(base):.2f} | {f['cpu_ratio']:.2f} "
            f"| {f['rss_sender']:.1f} / {f['rss_receiver']:.1f} MiB "
            f"| {peak(base, 'rss_sender'):.1f} / {peak(base, 'rss_receiver'):.1f} MiB "
            f"| {baseline} |")
    for case, _, _ in THROUGHPUT:
        if extra.get((case, "drops-velto")):
            out.append(f"\n{case}: packets the shaper dropped per transfer (median): Velto "
                       f"{statistics.median(extra[(case, 'drops-velto')]):.0f}, baseline "
                       f"{statistics.median(extra[(case, 'drops-baseline')]):.0f}")
    compared = [(case, title) for case, title, _ in THROUGHPUT if rows.get((case, "previous"))]
    if compared:
        out += ["", "## Before and after (the build given with --compare, in the same run)", "",
                "| Case | Before MB/s | After MB/s | Before CPU s/GiB | After CPU s/GiB "
                "| Before peak RSS sender / receiver | After peak RSS sender / receiver |",
                "|---|---|---|---|---|---|---|"]
        for case, title in compared:
            before, after = rows[(case, "previous")], rows[(case, "velto")]
            out.append(
                f"| {title} | {throughput(before):.0f} | {throughput(after):.0f} "
                f"| {cpu_per_gib(before):.2f} | {cpu_per_gib(after):.2f} "
                f"| {peak(before, 'rss_sender'):.1f} / {peak(before, 'rss_receiver'):.1f} MiB "
                f"| {peak(after, 'rss_sender'):.1f} / {peak(after, 'rss_receiver'):.1f} MiB |")
    out += ["", "## Latency (median, min-max, in ms)", "",
            "| Case | Velto | Baseline |", "|---|---|---|"]
    for case, title, baseline in LATENCY:
        velto = rows.get((case, "velto"))
        if not velto:
            continue
        median, low, high = millis(velto)
        figures[case] = median
        base = rows.get((case, "baseline"))
        base_text = "-"
        if base:
            b_median, b_low, b_high = millis(base)
            base_text = f"{b_median:.1f} ({b_low:.1f}-{b_high:.1f}), {baseline}"
        out.append(f"| {title} | {median:.1f} ({low:.1f}-{high:.1f}) | {base_text} |")
    out += crowd_section(extra, figures)

    targets = []
    if "file" in figures:
        f = figures["file"]
        targets += [
            ("1 GiB file: at least 120% of socat", f"{f['ratio']:.0%}", f["ratio"] >= 1.2),
            ("1 GiB file: receiver peak RSS under 64 MiB", f"{f['rss_receiver']:.1f} MiB",
             f["rss_receiver"] < 64),
            ("1 GiB file: sender peak RSS under 48 MiB", f"{f['rss_sender']:.1f} MiB",
             f["rss_sender"] < 48),
            ("1 GiB file: CPU s/GiB at most 0.75 x socat's", f"{f['cpu_ratio']:.2f} x",
             f["cpu_ratio"] <= 0.75),
        ]
    if "tree" in figures:
        f = figures["tree"]
        targets.append(("10,000 small files: at least 120% of tar \\| nc", f"{f['ratio']:.0%}",
                        f["ratio"] >= 1.2))
    # "Start of announcing" is the hello going out; the process start before it is listed
    # in the latency table.
    if "discovery-hello" in figures:
        targets.append(("discovery: added within 50 ms of the other host's start of announcing",
                        f"{figures['discovery-hello']:.1f} ms", figures["discovery-hello"] <= 50))
    if "text-1-connect" in figures:
        targets.append(("1-byte text: received within 10 ms of the connect",
                        f"{figures['text-1-connect']:.1f} ms", figures["text-1-connect"] <= 10))
    for case in ("link1g", "link300m"):
        if case in figures:
            targets.append((f"{case}: at least 97% of socat on the same link",
                            f"{figures[case]['ratio']:.0%}", figures[case]["ratio"] >= 0.97))
    for case, what in (("crowd-table", "the receiver's table"), ("crowd-peers", "`peers`' table")):
        if case in figures:
            targets.append((f"crowd: all 1,000 in {what} within 1 s of the last hello",
                            f"{figures[case]:.1f} ms", figures[case] <= 1000))
    if "crowd-listed" in figures:
        targets.append(("crowd: `velto-cli peers --json` lists all 1,000 and h1",
                        f"{figures['crowd-listed']:.0f}", figures["crowd-listed"] >= 1001))
    if "crowd-open" in figures:
        targets.append(("crowd: at most 8 picture requests open at once",
                        f"{figures['crowd-open']:.0f}", figures["crowd-open"] <= 8))
    if "crowd-draw" in figures:
        targets.append(("crowd: each peer-list update drawn in under 50 ms",
                        f"{figures['crowd-draw']:.1f} ms", figures["crowd-draw"] < 50))
    if targets:
        out += ["", "## Targets", "", "| Target | Figure | Met |", "|---|---|---|"]
        out += [f"| {name} | {figure} | {'yes' if met else 'NO'} |" for name, figure, met in targets]
    text = "\n".join(out) + "\n"
    with open(sys.argv[3], "w") as md:
        md.write(text)
    print(text)


if __name__ == "__main__":
    main()
