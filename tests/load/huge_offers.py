#!/usr/bin/env python3
"""Huge offers against the window program: a raw peer offers OFFERS files' worth of item
lines at once and measures what it costs the window.

Run it through huge_offers.sh, which gives it an X display of its own. It starts `brisk`
with a settings folder of its own, presses Connect, then sends OFFERS ASK messages of
ITEMS item lines of LINE_CHARS characters each, all at once, and measures:
  - how long the window takes to send a typed chat line (Ctrl+Enter in the input box)
    before the offers, while they arrive, while the person refuses them one prompt after
    another, and while the same offers come a second time;
  - how many prompts open, and whether every offer can be answered;
  - the program's memory (peak and at the end, from /proc);
  - how long SIGTERM takes to end it with the second batch's prompts open.
Needs xdotool; a screenshot is taken with ImageMagick's `import` when SHOT is given.
"""

import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

PROMPT_TITLE = "传送文件消息"
MAIN_TITLE = "File Transfer"


def xdotool(*args, check=True):
    done = subprocess.run(["xdotool", *args], capture_output=True, text=True)
    if check and done.returncode != 0:
        raise RuntimeError("xdotool %s: %s" % (" ".join(args), done.stderr.strip()))
    return done.stdout.strip()


def windows_named(title):
    """Ids of the mapped windows whose name is exactly `title` (asked of the X server, not
    of the program, so it answers while the program is busy)."""
    out = xdotool("search", "--onlyvisible", "--name", "^%s$" % title, check=False)
    return [w for w in out.split() if w]


def rss_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def size_text(size):
    return "%d bytes" % size


def ask_message(index, items, line_chars):
    """One offer of `items` files, each item line `line_chars` characters long."""
    lines = []
    for i in range(items):
        size = 100 + i
        name_len = max(1, line_chars - 1 - len(size_text(size)))
        stem = "offer%02d-item%05d-" % (index, i)
        name = (stem + "x" * name_len)[:name_len]
        lines.append("%s\t%s\r\n" % (name, size_text(size)))
    total = sum(100 + i for i in range(items))
    totals = "\r\n总计 文件个数：%d\r\n\u3000\u3000 文件大小：%d Bytes = %.1f KB\r\n" % (
        items, total, total / 1024.0)
    text = "TRANSFILE:ASK:Index:%d\r\n%s%s" % (index, "".join(lines), totals)
    return text.encode("gb18030")


class RawPeer:
    """The other side: listens, takes the program's connection and collects what it says."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.conn = None
        self.received = b""
        self.arrivals = {}
        self.lock = threading.Condition()

    def accept(self, timeout):
        self.listener.settimeout(timeout)
        self.conn, _ = self.listener.accept()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while True:
            try:
                data = self.conn.recv(65536)
            except OSError:
                data = b""
            now = time.monotonic()
            with self.lock:
                if not data:
                    self.received += b"\0closed"
                    self.lock.notify_all()
                    return
                self.received += data
                for match in re.finditer(rb"probe-(\d+)\r\n", self.received):
                    self.arrivals.setdefault(int(match.group(1)), now)
                self.lock.notify_all()

    def replies(self):
        """How many answers to offers the program has sent."""
        with self.lock:
            return self.received.count(b"TRANSFILE:REPLY:")

    def wait_probe(self, number, deadline):
        with self.lock:
            while number not in self.arrivals:
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.lock.wait(left)
            return self.arrivals[number]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("brisk")
    parser.add_argument("--offers", type=int, default=99)
    parser.add_argument("--items", type=int, default=1000)
    parser.add_argument("--line-chars", type=int, default=240)
    parser.add_argument("--limit", type=float, default=300.0,
                        help="seconds to wait for the prompts and the probes")
    parser.add_argument("--shot", help="PNG of the screen once the prompts are shown")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="brisk-huge-offers.")
    peer = RawPeer()
    os.makedirs(os.path.join(work, "Software"))
    with open(os.path.join(work, "Software", "socket.ini"), "w") as ini:
        ini.write("[General]\nipa=127.0.0.1\nport=%d\nautoclose=0\nzoomed=0\nwidth=400\n"
                  "height=460\nStayOnTop=0\nannounce=0\ndiscover=0\n" % peer.port)
    env = dict(os.environ, XDG_CONFIG_HOME=work, QT_QPA_PLATFORM="xcb",
               DBUS_SESSION_BUS_ADDRESS="disabled:")
    brisk = subprocess.Popen([args.brisk], env=env, stdout=subprocess.DEVNULL,
                             stderr=open(os.path.join(work, "stderr"), "w"))
    result = {}
    try:
        main_window = xdotool("search", "--sync", "--onlyvisible", "--name", MAIN_TITLE)
        main_window = main_window.split()[0]
        geometry = xdotool("getwindowgeometry", "--shell", main_window)
        size = dict(line.split("=") for line in geometry.splitlines())
        width, height = int(size["WIDTH"]), int(size["HEIGHT"])
        xdotool("mousemove", "--window", main_window, "250", "65", "click", "1")
        peer.accept(10)
        # The program takes the connection as made a moment after the peer accepted it; a
        # chat line typed before would get the modal "not connected" notice instead.
        time.sleep(1)
        # The input box has the keyboard focus of the main window from now on.
        xdotool("mousemove", "--window", main_window, str(width // 2), str(height - 80),
                "click", "1")

        probe_number = [0]

        interrupted = [0]

        def probe(limit):
            """Seconds from typing a chat line to its arrival, or None when it did not come.
            A prompt that opens while the line is typed takes the keyboard; such a probe
            is counted apart and repeated."""
            while True:
                probe_number[0] += 1
                number = probe_number[0]
                xdotool("windowraise", main_window, check=False)
                xdotool("windowfocus", main_window, check=False)
                start = time.monotonic()
                xdotool("type", "--delay", "0", "probe-%d" % number, check=False)
                xdotool("key", "ctrl+Return", check=False)
                if xdotool("getwindowfocus", check=False) == main_window:
                    arrived = peer.wait_probe(number, start + limit)
                    return None if arrived is None else arrived - start
                arrived = peer.wait_probe(number, start + min(limit, 2.0))
                if arrived is not None:
                    return arrived - start
                interrupted[0] += 1

        result["probe before"] = probe(10)
        if result["probe before"] is None:
            if args.shot:
                subprocess.run(["import", "-window", "root", args.shot], check=False)
            print("the program sent no chat line before the offers; nothing measured")
            return 2
        rss_before = rss_kib(brisk.pid)

        peak = [rss_before]
        sampling = [True]

        def sample():
            while sampling[0]:
                peak[0] = max(peak[0], rss_kib(brisk.pid))
                time.sleep(0.05)

        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()

        def flood():
            """Sends every offer at once; returns when they went out."""
            messages = [ask_message(i, args.items, args.line_chars)
                        for i in range(1, args.offers + 1)]
            for message in messages:
                peer.conn.sendall(message)
            return len(messages[0])

        def settle(deadline):
            """Probes until the number of open prompts has stayed the same for 2 s; returns
            the probes' latencies and the seconds until the last prompt appeared."""
            latencies = []
            began = time.monotonic()
            last_change = began
            shown = -1
            while time.monotonic() < deadline:
                latencies.append(probe(min(10.0, max(0.1, deadline - time.monotonic()))))
                count = len(windows_named(PROMPT_TITLE))
                if count != shown:
                    shown, last_change = count, time.monotonic()
                elif time.monotonic() - last_change >= 2:
                    break
            return latencies, shown, last_change - began

        # 1. The offers arrive: how long chat lines take meanwhile, how many prompts open.
        sent_at = time.monotonic()
        size = flood()
        sent_in = time.monotonic() - sent_at
        deadline = sent_at + args.limit
        arriving, shown, last_prompt = settle(deadline)
        if args.shot:
            subprocess.run(["import", "-window", "root", args.shot], check=False)

        # 2. The person refuses every offer, prompt after prompt (Tab, Tab, Space: the
        # second button), and chats in between: every offer must get its prompt.
        answering = []
        answered_at = None
        while time.monotonic() < deadline:
            if peer.replies() >= args.offers:
                answered_at = time.monotonic()
                break
            open_prompts = windows_named(PROMPT_TITLE)
            if open_prompts:
                xdotool("windowraise", open_prompts[-1], check=False)
                xdotool("windowfocus", open_prompts[-1], check=False)
                xdotool("key", "--delay", "0", "Tab", "Tab", "space", check=False)
            answering.append(probe(min(10.0, max(0.1, deadline - time.monotonic()))))
        refused = peer.replies()

        # 3. The same offers again, and SIGTERM while their prompts are open.
        again, _, _ = settle(time.monotonic() + 60) if flood() else ([], 0, 0)
        sampling[0] = False
        sampler.join()
        rss_end = rss_kib(brisk.pid)
        term_at = time.monotonic()
        brisk.send_signal(signal.SIGTERM)
        try:
            brisk.wait(30)
            sigterm = time.monotonic() - term_at
        except subprocess.TimeoutExpired:
            sigterm = None

        def ms(value):
            return "lost" if value is None else "%.0f ms" % (value * 1000)

        def worst(values):
            if not values:
                return "none"
            if any(v is None for v in values):
                return "%d of %d lost" % (sum(v is None for v in values), len(values))
            return ms(max(values))

        print("offers: %d of %d item lines of %d characters (%d KiB each), sent in %.1f s"
              % (args.offers, args.items, args.line_chars, size // 1024, sent_in))
        print("chat line before the offers: %s" % ms(result["probe before"]))
        print("while the offers arrived: %d chat lines, slowest %s; %d prompts open, the last"
              " %.1f s after the offers were sent" % (len(arriving), worst(arriving), shown,
                                                     last_prompt))
        print("refusing them one by one: %d of %d refused%s; %d chat lines, slowest %s"
              % (refused, args.offers,
                 "" if answered_at is None else " in %.1f s" % (answered_at - sent_at),
                 len(answering), worst(answering)))
        print("the same offers again: %d chat lines, slowest %s" % (len(again), worst(again)))
        if interrupted[0]:
            print("chat lines typed into a prompt that opened meanwhile, and repeated: %d"
                  % interrupted[0])
        print("memory: %d MiB before, peak %d MiB, %d MiB at the end"
              % (rss_before // 1024, peak[0] // 1024, rss_end // 1024))
        print("SIGTERM with their prompts open ended it in %s"
              % ("more than 30 s" if sigterm is None else ms(sigterm)))
        slowest = [v for v in arriving + answering + again]
        ok = (refused >= args.offers and all(v is not None and v <= 0.1 for v in slowest)
              and peak[0] < 200 * 1024 and sigterm is not None and sigterm <= 2)
        print("within the targets (every offer answered, chat lines within 100 ms,"
              " under 200 MiB, SIGTERM within 2 s): %s" % ("yes" if ok else "no"))
        return 0 if ok else 1
    finally:
        if brisk.poll() is None:
            brisk.kill()
            brisk.wait()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main())
