#!/usr/bin/env python3
"""Reads the drawings dimerplot makes with a real XML parser and maps every
point back to the data of the files it was drawn from.

Usage: check_svg.py DIMERSCAN DIMERPLOT"""
import math
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"
FIELD = re.compile(r"^\s*(-?)0?\.(\d{6})(?:E([+-]\d\d)|([+-]\d{3}))$")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def field(text):
    """The value of an E12.6 field as dimerscan writes it."""
    text = text.strip()
    if text == "NaN":
        return math.nan
    if text in ("+Infinity", "-Infinity"):
        return math.inf if text[0] == "+" else -math.inf
    m = FIELD.match(text)
    if not m:
        raise ValueError("not an E12.6 field: %r" % text)
    return float("%s0.%se%s" % (m.group(1), m.group(2), m.group(3) or m.group(4)))


def records(path):
    with open(path, "rb") as f:
        data = f.read().decode("ascii")
    return [(field(line[1:13]), field(line[15:27])) for line in data.split("\r\n") if line]


# The emulator of a cross build (Wine, qemu-user), when the programs need one.
EMULATOR = os.environ.get("DIMERSCAN_EMULATOR", "").split()


def run_scan(dimerscan, directory, answers):
    subprocess.run([*EMULATOR, dimerscan], input=answers.encode(), cwd=directory, check=True,
                   stdout=subprocess.DEVNULL)


def plot(dimerplot, directory, *args):
    result = subprocess.run([*EMULATOR, dimerplot, *args], cwd=directory, capture_output=True)
    if not check(result.returncode == 0, "dimerplot %s failed: %s" % (args, result.stderr)):
        return None
    return ET.parse(os.path.join(directory, "levels.svg" if "-o" not in args
                                 else args[args.index("-o") + 1])).getroot()


class Panel:
    """The mapping of one panel, from its data-* attributes."""

    def __init__(self, g):
        a = {k[5:]: float(v) for k, v in g.attrib.items() if k.startswith("data-")}
        self.__dict__.update(a)
        # Coordinates are written to 0.01: half of that, in data units.
        self.tol_x = 0.006 * (self.xmax - self.xmin) / (self.right - self.left)
        self.tol_y = 0.006 * (self.ymax - self.ymin) / (self.bottom - self.top)

    def data(self, x, y):
        return (self.xmin + (x - self.left) / (self.right - self.left) * (self.xmax - self.xmin),
                self.ymin + (self.bottom - y) / (self.bottom - self.top) * (self.ymax - self.ymin))


def points(polyline):
    return [tuple(float(c) for c in p.split(",")) for p in polyline.get("points").split()]


def panels(root):
    found = {g.get("id"): g for g in root.iter(SVG + "g") if g.get("class") == "panel"}
    check(set(found) == {"levels", "gap"}, "two panels, levels and gap: %s" % sorted(found))
    return found


def check_ticks(name, g, panel):
    """Tick labels are round numbers inside the axis, placed where they belong."""
    labels = [t for t in g.iter(SVG + "text") if t.get("data-value") is not None]
    check(len(labels) >= 4, "%s: tick labels" % name)
    for t in labels:
        v = float(t.get("data-value"))
        check(abs(float(t.text) - v) <= 1e-9 * max(1.0, abs(v)),
              "%s: label %r shows %r" % (name, t.text, v))
        if t.get("text-anchor") == "middle":
            check(abs(panel.data(float(t.get("x")), 0)[0] - v) <= panel.tol_x,
                  "%s: x label %s misplaced" % (name, t.text))


def check_lines(name, root, levels, gap, relative=False):
    """Every point of every piece maps back to its pass; pieces cover the finite values."""
    g = panels(root)
    lv, gp = Panel(g["levels"]), Panel(g["gap"])
    check_ticks(name, g["levels"], lv)
    check_ticks(name, g["gap"], gp)
    d1 = [r[0] for r in gap]
    series = {("level", k + 1): [levels[16 * p + k][1] for p in range(len(d1))] for k in range(16)}
    if relative:
        for p in range(len(d1)):
            finite = [series[("level", k + 1)][p] for k in range(16)
                      if math.isfinite(series[("level", k + 1)][p])]
            low = min(finite) if finite else math.nan
            for k in range(16):
                series[("level", k + 1)][p] -= low
    series[("gap", 0)] = [r[1] for r in gap]
    drawn = {key: [] for key in series}
    for line in root.iter(SVG + "polyline"):
        key = (line.get("class"), int(line.get("data-level", 0)))
        if not check(key in series, "%s: unexpected polyline %s" % (name, key)):
            continue
        panel = lv if key[0] == "level" else gp
        for x, y in points(line):
            drawn[key].append(panel.data(x, y))
    for key, values in series.items():
        finite = [(d, v) for d, v in zip(d1, values) if math.isfinite(v)]
        got = sorted(set(drawn[key]))
        # No thinning for short sweeps: every finite value is drawn, in order.
        check(len(got) == len(finite), "%s %s: %d points drawn for %d values"
              % (name, key, len(got), len(finite)))
        for (dx, dv), (x, v) in zip(finite, got):
            panel = lv if key[0] == "level" else gp
            if not check(abs(dx - x) <= panel.tol_x + 1e-12 and abs(dv - v) <= panel.tol_y + 1e-12,
                         "%s %s: point (%r, %r) for D1 %r, value %r" % (name, key, x, v, dx, dv)):
                break
    return drawn, lv


def count(root, tag, cls=None):
    return sum(1 for e in root.iter(SVG + tag) if cls is None or e.get("class") == cls)


def main():
    dimerscan, dimerplot = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as tmp:
        # A sweep of dimerscan itself: J = -1, D1 0 .. 5 step 0.05, E1/D1 = 0.1.
        run_scan(dimerscan, tmp, "-1\n0 5 0.05\n0\n0.1 0\n0\n")
        levels, gap = records(os.path.join(tmp, "fort.10")), records(os.path.join(tmp, "fort.20"))
        root = plot(dimerplot, tmp)
        if root is not None:
            check(root.tag == SVG + "svg", "root is svg")
            check(count(root, "polyline", "level") == 16, "16 level polylines")
            check(count(root, "polyline", "gap") == 1, "1 gap polyline")
            check(sorted(int(p.get("data-level")) for p in root.iter(SVG + "polyline")
                         if p.get("class") == "level") == list(range(1, 17)), "levels 1 to 16")
            texts = " ".join(t.text or "" for t in root.iter(SVG + "text"))
            for words in ("D1 (cm-1)", "Energy (cm-1)", "101 passes", "0 of 1616 level values"):
                check(words in texts, "text %r" % words)
            check_lines("sweep", root, levels, gap)

        # --relative: the lowest level on zero, the others above it.
        root = plot(dimerplot, tmp, "--relative", "-o", "rel.svg")
        if root is not None:
            drawn, lv = check_lines("relative", root, levels, gap, relative=True)
            check(all(abs(v) <= lv.tol_y for _, v in drawn[("level", 1)]), "lowest level on zero")
            check(all(v >= -lv.tol_y for key, pts in drawn.items() if key[0] == "level"
                      for _, v in pts), "no level below zero")

        # The states of the sweep's own parameters: every point of every state's
        # line lies on one of the levels of its pass, each pass holds every state once.
        root = plot(dimerplot, tmp, "--J", "-1", "--ratio1", "0.1", "-o", "states.svg")
        if root is not None:
            lv = Panel(panels(root)["levels"])
            by_pass = {}
            for d1, v in levels:
                by_pass.setdefault(d1, []).append(v)
            d1s = sorted(by_pass)
            seen = {}
            for line in root.iter(SVG + "polyline"):
                if line.get("class") != "state":
                    continue
                state = int(line.get("data-state"))
                for x, y in points(line):
                    d1, v = lv.data(x, y)
                    near = min(d1s, key=lambda d: abs(d - d1))
                    check(abs(near - d1) <= lv.tol_x, "states: point off every pass at %g" % d1)
                    on = [k for k, e in enumerate(by_pass[near]) if abs(e - v) <= lv.tol_y]
                    check(on, "states: state %d off every level at D1 %g" % (state, near))
                    seen.setdefault(near, set()).add(state)
            check(len(seen) == 101 and all(s == set(range(1, 17)) for s in seen.values()),
                  "states: every pass holds the sixteen states")
            texts = [t.text for t in root.iter(SVG + "text")]
            check(all("S = %d" % k in texts for k in range(4)), "states: the legend")
            check(sorted(int(t.get("data-state")) for t in root.iter(SVG + "text")
                         if t.get("class") == "state-label") == list(range(1, 17)),
                  "states: a label for each state")

        # A single pass: sixteen short bars, the points still on the data.
        one = os.path.join(tmp, "one")
        os.mkdir(one)
        run_scan(dimerscan, one, "-1\n0 0 1\n5\n0 0\n1\n")
        root = plot(dimerplot, one)
        if root is not None:
            check(count(root, "polyline") == 17, "single pass: 17 polylines")
            check(count(root, "line", "marker") == 17, "single pass: 17 markers")
            check_lines("single pass", root, records(os.path.join(one, "fort.10")),
                        records(os.path.join(one, "fort.20")))

        # NaN and infinite values, both exponent forms: lines broken, values counted.
        odd = os.path.join(tmp, "odd")
        os.mkdir(odd)
        rows10, rows20 = [], []
        for p in range(5):
            d1 = " 0.%d00000E+00" % p if p else " 0.000000E+00"
            for k in range(16):
                v = "0.%d00000+101" % (k % 9 + 1)
                if (p, k) == (2, 3):
                    v = "NaN"
                if (p, k) == (4, 0):
                    v = "-Infinity"
                rows10.append("%s  %12s\r\n" % (d1, v))
            rows20.append("%s  %12s\r\n" % (d1, "+Infinity" if p == 1 else "-.100000-100"))
        with open(os.path.join(odd, "fort.10"), "w", newline="") as f:
            f.write("".join(rows10))
        with open(os.path.join(odd, "fort.20"), "w", newline="") as f:
            f.write("".join(rows20))
        root = plot(dimerplot, odd)
        if root is not None:
            check(root.get("data-left-out-levels") == "2", "2 level values left out")
            check(root.get("data-left-out-gap") == "1", "1 gap value left out")
            texts = " ".join(t.text or "" for t in root.iter(SVG + "text"))
            check("2 of 80 level values, 1 of 5 gap values" in texts, "note counts: " + texts)
            # Level 4 broken at pass 3, level 1 cut short, the gap broken at pass 2.
            check(count(root, "polyline", "level") == 17, "level 4 in two pieces")
            check(count(root, "polyline", "gap") == 2, "gap in two pieces")
            check_lines("non-finite", root, records(os.path.join(odd, "fort.10")),
                        records(os.path.join(odd, "fort.20")))

    for f in failures:
        print("FAILED:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
