#!/usr/bin/env python3
"""The HTML fit report of real fits: it parses as HTML5 and its SVG as XML,
its accuracy table carries the printed summary's numbers, and headless
Chromium draws it offline without a script error, one chart per expected plot,
with the model's own values in the magnitude charts.

Usage: report_check.py CFIT DATA_FOLDER
"""
import json
import os
import re
import subprocess
import sys
import tempfile

import html5lib
import numpy as np
import skrf
from lxml import etree
from PIL import Image

CFIT, DATA = sys.argv[1:3]
UNITS = {"Hz": 1.0, "kHz": 1e3, "MHz": 1e6, "GHz": 1e9, "THz": 1e12}
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def run(*words):
    done = subprocess.run([CFIT, *words], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"cfit {' '.join(words)} failed: {done.stderr}")
    return done.stdout


def summary_rows(stdout):
    """element -> (poles, delay, rms, max, at) as the summary prints them."""
    rows = {}
    for line in stdout.splitlines():
        m = re.match(r"  ([SYZ]\S+)\s+(\S+)\s+(\S+ \S+)\s+(\S+)\s+(\S+)\s+(\S+ \S+)$", line)
        if m:
            rows[m.group(1)] = m.groups()[1:]
    return rows


def text(node):
    return "".join(node.itertext()).strip()


def parse(path, case):
    page = open(path, encoding="utf-8").read()
    parser = html5lib.HTMLParser(strict=True, namespaceHTMLElements=False,
                                 tree=html5lib.getTreeBuilder("etree"))
    try:
        tree = parser.parse(page)
    except Exception as error:  # html5lib raises ParseError with the position
        check(False, f"{case}: not valid HTML5: {error} at {parser.errors[:1]}")
        return page, None
    for svg in re.findall(r"<svg.*?</svg>", page, re.S):
        try:
            etree.fromstring(svg.encode())
        except etree.XMLSyntaxError as error:
            check(False, f"{case}: an SVG is not XML: {error}")
    check(page.count("<svg") >= 1, f"{case}: no pole map")
    check("src=" not in page and "href=\"http" not in page, f"{case}: refers outside itself")
    return page, tree


def table_rows(tree):
    table = next(t for t in tree.iter("table") if t.get("class") == "summary")
    return [[text(td) for td in tr.iter("td")] for tr in table.iter("tr") if tr.find("td") is not None]


def browse(path, work, case):
    """The DOM after the scripts ran; a screenshot; console messages."""
    url = "file://" + path
    base = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
            "--virtual-time-budget=20000", "--enable-logging=stderr", "--v=0"]
    dom = subprocess.run(base + ["--dump-dom", url], capture_output=True, text=True)
    shot = os.path.join(work, case + ".png")
    subprocess.run(base + ["--window-size=1000,2400", f"--screenshot={shot}", url],
                   capture_output=True, text=True)
    console = [l for l in dom.stderr.splitlines() if re.search(r":CONSOLE[:(]", l)]
    check(not console, f"{case}: console messages {console[:3]}")
    image = np.asarray(Image.open(shot).convert("L"))
    check(image.std() > 10 and (image < 128).mean() > 0.005, f"{case}: the screenshot is blank")
    return html5lib.parse(dom.stdout, namespaceHTMLElements=False)


def expected_plots(rows, ports):
    """Every element up to 4 ports, otherwise the 8 worst and the diagonal."""
    names = sorted(rows, key=lambda e: -float(rows[e][3]))
    if ports <= 4:
        return set(names)
    diagonal = {e for e in names if e[1:2] * 2 == e[1:3] and len(e) == 3}
    return set(names[:8]) | diagonal


def anchor_name(anchor, kind):
    _, i, j = anchor.split("-")
    return f"{kind}{i}{j}"


def check_fit(source, options, case, work):
    out = os.path.join(work, case)
    stdout = run("fit", "--report", "--all-elements", "--no-progress", "-o", out, *options,
                 os.path.join(DATA, source))
    stem = os.path.splitext(source)[0]
    path = os.path.join(out, stem + "_report.html")
    check(path in stdout, f"{case}: the report is not listed among the outputs")
    page, tree = parse(path, case)
    if tree is None:
        return
    rows = summary_rows(stdout)
    ports = int(re.search(r"(\d+)-port", stdout).group(1))
    shown = table_rows(tree)
    # Every element of the printed summary, with the same numbers, worst first.
    check({r[0]: tuple(r[1:]) for r in shown} == rows, f"{case}: the table differs from the summary")
    largest = [float(r[4]) for r in shown]
    check(largest == sorted(largest, reverse=True), f"{case}: the table is not worst first")

    dom = browse(path, work, case)
    check(text(dom.find(".//p[@id='error']")) == "", f"{case}: the page reported a failure")
    charts = [d for d in dom.iter("div") if d.get("class") == "chart"]
    check(dom.find("body").get("data-charts") == str(len(charts)),
          f"{case}: {dom.find('body').get('data-charts')} of {len(charts)} charts drawn")
    check(all(c.get("data-check") for c in charts), f"{case}: a chart was left empty")
    letter = re.search(r"-port (\w) model", stdout).group(1)
    plotted = {anchor_name(c.get("data-element"), letter) for c in charts if c.get("data-element")}
    check(plotted == expected_plots(rows, ports), f"{case}: plotted {sorted(plotted)}")
    kinds = [c.get("data-chart") for c in charts]
    check(kinds.count("passivity") == 1 and kinds.count("step") == 1,
          f"{case}: no passivity or step chart")
    heat = [t for t in tree.iter("table") if t.get("class") == "heat"]
    check(len(heat) == (1 if ports > 4 else 0), f"{case}: heat map present for {ports} ports")
    if heat:
        cells = [td for td in heat[0].iter("td")]
        links = {a.get("href") for a in heat[0].iter("a")}
        check(len(cells) == ports * ports, f"{case}: the heat map is not N x N")
        check(links == {"#" + c.get("data-element") for c in charts if c.get("data-element")},
              f"{case}: the heat map does not link the plotted elements")

    # The drawn model magnitudes are the model file's values at those points.
    model = skrf.Network(os.path.join(out, f"{stem}_model.s{ports}p"))
    unit = UNITS[json.loads(re.search(r'id="report-data">(.*?)</script>', page, re.S).group(1))
                 ["frequencyUnit"]]
    for c in charts:
        if c.get("data-chart") != "mag" or not c.get("data-check"):
            continue
        drawn = json.loads(c.get("data-check"))
        _, i, j = c.get("data-element").split("-")
        y = np.array(drawn["y"][drawn["labels"].index("model")], float)
        f = np.array(drawn["x"]) * unit
        want = 20 * np.log10(np.abs(np.array(
            [model.s[np.argmin(np.abs(model.f - x)), int(i) - 1, int(j) - 1] for x in f])))
        check(len(y) == 16 and np.allclose(y, want, atol=1e-4),
              f"{case}: the magnitude of {i},{j} is not the model's")


def check_model_alone(work):
    """cfit report on a pole file without data draws the model alone."""
    out = os.path.join(work, "alone")
    run("fit", "--no-progress", "-o", out, os.path.join(DATA, "ring_slot_sim.s2p"))
    path = os.path.join(out, "alone_report.html")
    run("report", "-o", path, os.path.join(out, "ring_slot_sim.pls"))
    page, tree = parse(path, "model alone")
    dom = browse(path, work, "alone")
    kinds = [d.get("data-chart") for d in dom.iter("div") if d.get("class") == "chart"]
    check("error" not in kinds and kinds.count("mag") == 3, f"model alone: charts {kinds}")
    check(dom.find("body").get("data-charts") == str(len(kinds)), "model alone: not drawn")


def main():
    with tempfile.TemporaryDirectory() as work:
        check_fit("ring_slot_sim.s2p", ["--passive"], "ring", work)
        check_fit("package_8port_sim.s8p", [], "package", work)
        check_model_alone(work)
    for f in failures:
        print("FAILED:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
