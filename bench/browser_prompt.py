#!/usr/bin/env python3
"""Benchmark: a page's request to Halvane's prompt on the screen, in the real browser.

From the real click (xdotool) on a page that asks at once, through the
extension, the host under Wine and halvane.exe, until the prompt is visible;
against halvane.exe started directly with the same command line until its
prompt is visible. Rounds are interleaved and each uses a site of its own (so
no remembered answer and no dismissal count takes part); each prompt is
cancelled. Both times are taken here, from the click or the start command to
the stand-in browser's report of the prompt, which looks every 50 ms.

Run through the browser test's set-up, which makes the Wine prefix, the Xvfb
and the host's registration:
    tests/browser/browser_test.sh build/windows/bin bench/browser_prompt.py
HALVANE_BENCH_ROUNDS sets the number of rounds (default 10, at most 20).
"""
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "browser"))
import browser_test as harness  # noqa: E402


def prompt_shown(browser, since):
    browser.standin.ask("prompt 30", "prompt:")
    return (time.monotonic() - since) * 1000


def through_browser(browser, port, site, row):
    browser.open(f"http://{site}:{port}/page.html?row={row}&click=keep")
    harness.until("the page", 20, lambda: row in harness.heard("loaded"))
    started = time.monotonic()
    browser.click(browser.x_windows()[0])
    elapsed = prompt_shown(browser, started)
    browser.standin.ask("answer cancel", "answered")
    harness.until(f"the page {row} to hear it was dismissed", 20, lambda: harness.heard(row))
    return elapsed


def direct(browser, site):
    started = time.monotonic()
    browser.standin.ask(f'launch en {site} "{harness.TITLE} direct"', "launched")
    elapsed = prompt_shown(browser, started)
    browser.standin.ask("answer cancel", "answered")
    browser.standin.ask("gone 10", "halvane.exe:")
    return elapsed


def main():
    rounds = min(int(os.environ.get("HALVANE_BENCH_ROUNDS", "10")), 20)
    server, port, marionette_port = harness.serve()
    browser = harness.Browser(port, marionette_port)
    browser_ms, direct_ms = [], []
    try:
        for n in range(rounds):
            # Alternate which goes first, so neither always follows the other.
            pair = [lambda: browser_ms.append(through_browser(browser, port, f"bench{2 * n}.test", f"b{n}")),
                    lambda: direct_ms.append(direct(browser, f"bench{2 * n + 1}.test"))]
            for measure in (pair if n % 2 == 0 else pair[::-1]):
                measure()
    finally:
        browser.close()
        server.shutdown()
    ratios = [b / d for b, d in zip(browser_ms, direct_ms)]
    print(f"page request -> prompt visible: median {statistics.median(browser_ms):.0f} ms over {rounds} rounds")
    print(f"halvane.exe start -> prompt visible: median {statistics.median(direct_ms):.0f} ms")
    print(f"ratio of the medians {statistics.median(browser_ms) / statistics.median(direct_ms):.2f}, "
          f"median of the per-round ratios {statistics.median(ratios):.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
