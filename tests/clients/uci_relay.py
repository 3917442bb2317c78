#!/usr/bin/env python3
"""A UCI game driver that behaves like a slow, careless GUI: it writes every line to Talvek in
pieces with pauses between them, lets Talvek ponder, sends "go ponder" with the clock as it stood
before Talvek's last move (a stale clock, as some GUIs do), adds a relay delay to every move, and
keeps the true clocks itself. The opponent is Stockfish at a fixed node count. A game is lost on
time when Talvek's true clock runs out.

  tests/clients/uci_relay.py TALVEK [--games 10] [--base 10000] [--inc 100] [--overhead 0]
                             [--lag 30] [--plies 200]
Prints one line per game and a summary; exits 1 when a game was lost on time.
"""
import argparse
import os
import random
import select
import subprocess
import sys
import time


class Engine:
    def __init__(self, command):
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
        self.buffer = b""

    def write(self, text):
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()

    def send(self, line):
        self.write(line + "\n")

    def send_in_pieces(self, line, rng):
        data = line + "\n"
        cuts = sorted(rng.sample(range(1, len(data)), min(2, len(data) - 1)))
        start = 0
        for cut in cuts + [len(data)]:
            self.write(data[start:cut])
            start = cut
            if cut != len(data):
                time.sleep(rng.uniform(0.005, 0.04))

    def read_line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 65536)
                if not chunk:
                    return None
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode(errors="replace").strip()

    def wait_for(self, prefix, timeout=60):
        while True:
            line = self.read_line(timeout)
            if line is None:
                raise RuntimeError("no '%s' within %s s" % (prefix, timeout))
            if line.startswith(prefix):
                return line

    def close(self):
        try:
            self.send("quit")
            self.proc.wait(5)
        except Exception:
            self.proc.kill()


def play(args, game, rng):
    talvek = Engine([args.talvek])
    fish = Engine([args.stockfish])
    talvek.send("uci")
    talvek.wait_for("uciok")
    talvek.send("setoption name Ponder value true")
    talvek.send("setoption name Move Overhead value %d" % args.overhead)
    talvek.send("ucinewgame")
    fish.send("uci")
    fish.wait_for("uciok")
    talvek_white = game % 2 == 0
    moves = []
    clock = {True: args.base, False: args.base}  # True: Talvek's, false: Stockfish's
    result = "draw (ply limit)"
    pondering = None  # the move Talvek ponders on, while it does
    stale = clock[True]
    lag = args.lag / 1000.0
    try:
        while len(moves) < args.plies:
            talvek_to_move = (len(moves) % 2 == 0) == talvek_white
            if talvek_to_move:
                own = {"w" if talvek_white else "b": clock[True], "b" if talvek_white else "w": clock[False]}
                start = time.monotonic()
                if pondering is not None and moves and moves[-1] == pondering:
                    talvek.send_in_pieces("ponderhit", rng)
                else:
                    if pondering is not None:
                        talvek.send_in_pieces("stop", rng)
                        talvek.wait_for("bestmove")
                        start = time.monotonic()
                    talvek.send_in_pieces("position startpos moves " + " ".join(moves), rng)
                    talvek.send_in_pieces("go wtime %d btime %d winc %d binc %d" % (own["w"], own["b"], args.inc, args.inc), rng)
                pondering = None
                line = talvek.wait_for("bestmove", timeout=max(clock[True] / 1000.0 + 30, 30))
                used = int((time.monotonic() - start + lag) * 1000)
                stale = clock[True]
                clock[True] -= used
                if clock[True] < 0:
                    result = "Talvek lost on time (%d ms over)" % -clock[True]
                    break
                clock[True] += args.inc
                words = line.split()
                if len(words) < 2 or words[1] in ("0000", "(none)"):
                    result = "game over (Talvek has no move)"
                    break
                moves.append(words[1])
                if len(words) >= 4 and words[2] == "ponder":
                    pondering = words[3]
                    # The stale clock: Talvek's time as it stood before the move it just made.
                    w, b = (stale, clock[False]) if talvek_white else (clock[False], stale)
                    talvek.send_in_pieces("position startpos moves " + " ".join(moves + [pondering]), rng)
                    talvek.send_in_pieces("go ponder wtime %d btime %d winc %d binc %d" % (w, b, args.inc, args.inc), rng)
            else:
                start = time.monotonic()
                fish.send("position startpos moves " + " ".join(moves))
                fish.send("go nodes %d" % args.nodes)
                line = fish.wait_for("bestmove")
                clock[False] += args.inc - int((time.monotonic() - start) * 1000)
                words = line.split()
                if len(words) < 2 or words[1] in ("0000", "(none)"):
                    result = "game over (Stockfish has no move)"
                    if pondering is not None:
                        talvek.send("stop")
                        talvek.wait_for("bestmove")
                    break
                moves.append(words[1])
    finally:
        talvek.close()
        fish.close()
    return result, len(moves), clock[True]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("talvek")
    parser.add_argument("--games", type=int, default=10)
    parser.add_argument("--base", type=int, default=10000)
    parser.add_argument("--inc", type=int, default=100)
    parser.add_argument("--overhead", type=int, default=0)
    parser.add_argument("--lag", type=int, default=30)
    parser.add_argument("--plies", type=int, default=200)
    parser.add_argument("--nodes", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--stockfish", default="/usr/games/stockfish")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    losses = 0
    for game in range(args.games):
        result, plies, left = play(args, game, rng)
        losses += "lost on time" in result
        print("game %d: %s after %d plies, Talvek's clock %d ms" % (game + 1, result, plies, left), flush=True)
    print("%d games, %d lost on time (Move Overhead %d ms, %d+%d ms, lag %d ms)" %
          (args.games, losses, args.overhead, args.base, args.inc, args.lag))
    return 1 if losses else 0


if __name__ == "__main__":
    sys.exit(main())
