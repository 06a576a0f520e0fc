#!/usr/bin/env python3
"""Prints the benchmark table from the results scripts/bench.sh leaves in a folder.

Each row: what is measured, the figure, its reference from the same run, the ratio
figure / reference, the goal on that ratio and whether it is met. A result that is
missing (a run that failed) shows as "-" and fails its goal.
"""
import json
import sys
from pathlib import Path

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load_benchmarks(path):
    """run name -> the run's entry: the median over repetitions, else the one run."""
    try:
        entries = json.loads(path.read_text())["benchmarks"]
    except (OSError, ValueError, KeyError):
        return {}
    runs = {}
    for entry in entries:
        if entry.get("error_occurred"):
            continue
        name = entry.get("run_name", entry["name"])
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") == "median":
                runs[name] = entry
        else:
            runs.setdefault(name, entry)
    return runs


def load_json_line(path):
    try:
        return json.loads(path.read_text().strip().splitlines()[-1])
    except (OSError, ValueError, IndexError):
        return None


def seconds(entry):
    return entry["real_time"] * UNIT_SECONDS[entry.get("time_unit", "ns")]


def field(runs, name, key):
    entry = runs.get(name)
    if entry is None or key not in entry:
        return None
    return entry[key]


class Table:
    def __init__(self):
        self.rows = []

    def add(self, what, value, reference, unit, goal_text, goal, note="", on_value=False):
        """goal: a function of the ratio value / reference (or of the value itself when
        on_value) returning True when met."""
        ratio = value / reference if value is not None and reference else None
        judged = value if on_value else ratio
        if goal is None:
            result = "-"
        else:
            result = "pass" if judged is not None and ratio is not None and goal(judged) else "FAIL"
        self.rows.append((what, fmt(value, unit), fmt(reference, unit),
                          "-" if ratio is None else f"{ratio:.3f}", goal_text, result, note))

    def print(self):
        header = ("measurement", "value", "reference", "ratio", "goal", "result", "reference is")
        widths = [max(len(str(r[i])) for r in self.rows + [header]) for i in range(len(header))]
        line = "  ".join("{:<%d}" % w for w in widths)
        print(line.format(*header))
        print("  ".join("-" * w for w in widths))
        for row in self.rows:
            print(line.format(*row))


def fmt(value, unit):
    if value is None:
        return "-"
    if abs(value) >= 1e6:
        text = f"{value / 1e6:.2f}M"
    elif abs(value) >= 1e4:
        text = f"{value / 1e3:.1f}k"
    elif abs(value) >= 100:
        text = f"{value:.0f}"
    else:
        text = f"{value:.3g}"
    return f"{text} {unit}"


def main(folder):
    folder = Path(folder)
    conn = load_benchmarks(folder / "connection.json")
    diag = load_benchmarks(folder / "diag.json")
    table_runs = load_benchmarks(folder / "table.json")
    idle = load_json_line(folder / "idle.json")
    requests = load_json_line(folder / "requests.json")
    reconnects = load_json_line(folder / "reconnects.json")
    t = Table()

    within = lambda limit: (lambda r: r <= limit)
    at_least = lambda limit: (lambda r: r >= limit)

    # 1. Round trip: Publish until the answer is handled, against the bare client.
    plugin_rt, bare_rt = "RoundTrip/plugin/manual_time", "RoundTrip/bare/manual_time"
    for pct in ("p50", "p99"):
        t.add(f"1 round trip {pct}", field(conn, plugin_rt, f"{pct}_us"),
              field(conn, bare_rt, f"{pct}_us"), "us", "<= 1.10", within(1.10), "bare OpenSSL client")

    # 2. Pipelined requests per second (batches of 256), against the bare client.
    for kind, what in (("Delivered", "to the peer"), ("Pipelined", "answered")):
        t.add(f"2 pipelined req/s, {what}", field(conn, f"{kind}/plugin/256/manual_time", "items_per_second"),
              field(conn, f"{kind}/bare/256/manual_time", "items_per_second"), "/s", ">= 0.80",
              at_least(0.80), "bare OpenSSL client")
    # For scale (no goal): the process's CPU time per answered request, the peer's
    # included; with more busy threads than cores the rates above follow it.
    t.add("2 CPU per request, answered", field(conn, "Pipelined/plugin/256/manual_time", "cpu_us"),
          field(conn, "Pipelined/bare/256/manual_time", "cpu_us"), "us", "none", None,
          "bare OpenSSL client")

    # 3. Idle CPU over the run, against its limit of 0.1 % of a core.
    idle_ok = idle is not None and idle.get("connected")
    t.add(f"3 idle CPU ({idle['seconds']:.0f} s)" if idle else "3 idle CPU",
          idle["cpu_percent"] if idle_ok else None, 0.1, "%", "<= 1.00", within(1.0),
          "limit, 0.1 % of a core")

    # 4. Memory: the end against the middle (flat: grows no more than 10 %).
    for label, run in (("1M requests", requests), ("10k reconnects", reconnects)):
        if run is not None:
            label = f"{run['count']:,} {run['what']}"
        for kind, key in (("heap", "heap_mib"), ("RSS", "rss_mib")):
            start, middle, end = run[key] if run else (None, None, None)
            note = f"middle; start {start:.2f} MiB" if run else "middle"
            t.add(f"4 {kind} after {label}", end, middle, "MiB", "<= 1.10", within(1.10), note)

    # 5. The sent-packet table at a million records, beside the same at a thousand.
    # Every request takes one add, one look-up and one removal: the table keeps out of
    # the way while each runs at ten times the bare client's pipelined request rate.
    bare_rate = field(conn, "Delivered/bare/256/manual_time", "items_per_second")
    need = 10 * bare_rate if bare_rate else float("inf")
    for op in ("add", "lookup", "remove"):
        t.add(f"5 sent table {op} at 1M", field(table_runs, f"SentTable/{op}/1000000", "items_per_second"),
              field(table_runs, f"SentTable/{op}/1000", "items_per_second"), "/s",
              f">= {fmt(need, '/s')}", at_least(need), "same at 1,000 records", on_value=True)

    # 6. Log lines against a bare open-append-close of the same bytes.
    for what, name in (("trace line", "TraceLine/trace_log"), ("perf-log line", "PerfLine/perf_log")):
        bare = name.split("/")[0] + "/bare"
        t.add(f"6 {what}", seconds(diag[name]) * 1e6 if name in diag else None,
              seconds(diag[bare]) * 1e6 if bare in diag else None, "us", "<= 1.20", within(1.20),
              "bare open-append-close")
    # Tracing on, for scale (no goal: the trace log is for diagnosis).
    t.add("6 round trip p50, trace on", field(conn, "RoundTrip/plugin_traced/manual_time", "p50_us"),
          field(conn, plugin_rt, "p50_us"), "us", "none", None, "trace off")
    # Tracing off: what the switched-off trace calls of one request cost, against the
    # round trip itself.
    lines = field(conn, "RoundTrip/plugin_traced/manual_time", "trace_lines")
    # CPU time: a call this short is otherwise measured with the waits of a busy machine.
    off_call = (diag["TraceCall/off"]["cpu_time"] * UNIT_SECONDS[diag["TraceCall/off"].get("time_unit", "ns")] * 1e6
                if "TraceCall/off" in diag else None)
    t.add("6 trace off, cost per request",
          lines * off_call if lines is not None and off_call is not None else None,
          field(conn, plugin_rt, "p50_us"), "us", "<= 0.01", within(0.01),
          f"round trip p50; {lines:.0f} calls" if lines is not None else "round trip p50")

    t.print()
    judged = [row for row in t.rows if row[5] != "-"]
    failed = sum(1 for row in judged if row[5] == "FAIL")
    print(f"\n{len(judged) - failed} of {len(judged)} goals met")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
