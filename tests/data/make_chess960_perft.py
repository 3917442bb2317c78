#!/usr/bin/env python3
"""Writes tests/data/chess960_perft.txt: Chess960 perft counts from Stockfish (UCI_Chess960).

Lines look like perft.txt ("<fen> ;D1 n ;D2 n ..."), with the castling rights as the rooks'
files (Shredder-FEN, as Stockfish writes them). Three groups, each after a comment line:
  # start   all 960 start positions in Scharnagl order, depths 1-4
  # deep    start positions where king or rook stays put when castling, depths 5 (some 6)
  # middle  positions of seeded random games: castling still possible, just after castling,
            en passant possible, promotions possible or just made; depths 1-4 (some 5)

Usage: tests/data/make_chess960_perft.py [stockfish] > tests/data/chess960_perft.txt
The counts come from the engine, never from Talvek; the random games are seeded, so the file
is the same on every run with the same Stockfish.
"""
import random
import subprocess
import sys

KNIGHT_PLACES = ["NN---", "N-N--", "N--N-", "N---N", "-NN--", "-N-N-", "-N--N", "--NN-", "--N-N",
                 "---NN"]


def start_rank(n):
    """Back rank of Chess960 start position n (0-959) in Scharnagl's numbering; 518 is RNBQKBNR."""
    rank = [None] * 8
    n, light = divmod(n, 4)
    rank[2 * light + 1] = "B"
    n, dark = divmod(n, 4)
    rank[2 * dark] = "B"
    n, queen = divmod(n, 6)
    empty = [f for f in range(8) if rank[f] is None]
    rank[empty[queen]] = "Q"
    empty = [f for f in range(8) if rank[f] is None]
    for f, mark in zip(empty, KNIGHT_PLACES[n]):
        if mark == "N":
            rank[f] = "N"
    empty = [f for f in range(8) if rank[f] is None]
    for f, piece in zip(empty, "RKR"):
        rank[f] = piece
    return "".join(rank)


def start_fen(n):
    rank = start_rank(n)
    rooks = [f for f, p in enumerate(rank) if p == "R"]
    files = "".join("abcdefgh"[f] for f in (rooks[1], rooks[0]))
    return "%s/pppppppp/8/8/8/8/PPPPPPPP/%s w %s%s - 0 1" % (rank.lower(), rank, files.upper(), files)


class Engine:
    def __init__(self, path):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     universal_newlines=True, bufsize=1)
        self.send("uci")
        self.wait("uciok")
        self.send("setoption name UCI_Chess960 value true")
        self.send("isready")
        self.wait("readyok")

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait(self, word):
        lines = []
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("engine ended")
            lines.append(line.rstrip("\n"))
            if line.startswith(word):
                return lines

    def perft(self, fen, moves, depth):
        """Total count and the root moves with their counts."""
        self.send("position fen %s%s" % (fen, " moves " + " ".join(moves) if moves else ""))
        self.send("go perft %d" % depth)
        lines = self.wait("Nodes searched")
        total = int(lines[-1].split(":")[1])
        root = [l.split(":")[0] for l in lines if ": " in l and len(l.split(":")[0]) in (4, 5)]
        return total, root

    def fen_after(self, fen, moves):
        self.send("position fen %s moves %s" % (fen, " ".join(moves)))
        self.send("d")
        for line in self.wait("Checkers"):
            if line.startswith("Fen: "):
                return line[5:]
        raise RuntimeError("no Fen line")


def counts(engine, fen, depth):
    return " ".join(";D%d %d" % (d, engine.perft(fen, [], d)[0]) for d in range(1, depth + 1))


def squares(fen):
    """Map of square name to piece letter."""
    board = {}
    for r, row in enumerate(fen.split()[0].split("/")):
        f = 0
        for ch in row:
            if ch.isdigit():
                f += int(ch)
            else:
                board["abcdefgh"[f] + str(8 - r)] = ch
                f += 1
    return board


def kind(board, move):
    """castle, ep, promotion or other, for a move of the position board describes."""
    piece, target = board.get(move[:2], ""), board.get(move[2:4], "")
    if piece in "Kk" and target and target in ("R" if piece == "K" else "r"):
        return "castle"
    if len(move) == 5:
        return "promotion"
    if piece in "Pp" and move[0] != move[2] and not target:
        return "ep"
    return "other"


def middle_positions(engine, wanted):
    """(fen, why) pairs from seeded random games that favour pawn moves, castling and
    promotions, so that every kind of special move turns up."""
    rng = random.Random(960)
    found = {"castle-possible": [], "castled": [], "ep": [], "promotion": []}
    game = 0
    while any(len(v) < wanted for v in found.values()) and game < 400:
        game += 1
        fen = start_fen(rng.randrange(960))
        moves = []
        for _ in range(90):
            _, root = engine.perft(fen, moves, 1)
            if not root:
                break
            now = engine.fen_after(fen, moves) if moves else fen
            board = squares(now)
            kinds = {m: kind(board, m) for m in root}
            if "castle" in kinds.values() and len(moves) >= 6 and len(found["castle-possible"]) < wanted:
                found["castle-possible"].append(now)
            if "ep" in kinds.values() and len(found["ep"]) < wanted:
                found["ep"].append(now)
            if "promotion" in kinds.values() and len(found["promotion"]) < wanted:
                found["promotion"].append(now)
            special = [m for m in root if kinds[m] in ("castle", "promotion", "ep")]
            pawns = [m for m in root if board.get(m[:2], "") in "Pp"]
            pick = rng.random()
            if special and pick < 0.6:
                move = rng.choice(special)
            elif pawns and pick < 0.8:
                move = rng.choice(pawns)
            else:
                move = rng.choice(root)
            moves.append(move)
            if kinds[move] == "castle" and len(found["castled"]) < wanted:
                found["castled"].append(engine.fen_after(fen, moves))
            if kinds[move] == "promotion" and len(found["promotion"]) < wanted and rng.random() < 0.5:
                found["promotion"].append(engine.fen_after(fen, moves))
    return [(f, why) for why, fens in found.items() for f in fens]


def main():
    engine = Engine(sys.argv[1] if len(sys.argv) > 1 else "stockfish")
    print("# start")
    for n in range(960):
        fen = start_fen(n)
        print("%s %s" % (fen, counts(engine, fen, 4)))
    print("# deep")
    # King on c or g (it stays put on one side) or rook on d or f next to the king's landing
    # square (the rook stays put), plus the standard array; a few of them to depth 6.
    deep = []
    for n in range(960):
        rank = start_rank(n)
        king = rank.index("K")
        rooks = [f for f, p in enumerate(rank) if p == "R"]
        if king in (2, 6) or 3 in rooks or 5 in rooks or n == 518:
            deep.append(n)
    sample = random.Random(5).sample(deep, 14) + [518]
    for i, n in enumerate(sample):
        fen = start_fen(n)
        print("%s %s" % (fen, counts(engine, fen, 6 if i < 3 else 5)))
    print("# middle")
    for i, (fen, _why) in enumerate(middle_positions(engine, 10)):
        print("%s %s" % (fen, counts(engine, fen, 5 if i % 8 == 0 else 4)))
    engine.send("quit")


if __name__ == "__main__":
    main()
