#!/usr/bin/env python3
# Random endings for bench/match.sh POSITIONS: men of the material sets below placed at random
# (kings apart, neither side left in check, White to move), kept when Stockfish at depth 12 scores
# them between 30 and 250 centipawns either way, neither drawn at once nor decided.
#   bench/endings.py [seed] [count] > bench/endings.fen   (bench/endings.fen: seed 3, 40)
import random, subprocess, sys
random.seed(int(sys.argv[1]) if len(sys.argv) > 1 else 1)
sets = ["KRPvKR","KRPPvKRP","KQPvKQ","KRvKBP","KBPvKN","KPPvKP","KRPvKRP","KNPvKB","KRNvKR","KQvKRP",
        "KBPPvKB","KNPPvKN","KRBvKR","KPPvKPP","KRPvKBP","KQvKRN","KRPvKNP","KBPvKBP"]
def attacked(board, sq, by):  # is square sq attacked by colour `by` (upper = white)
    f, r = sq % 8, sq // 8
    for (df, dr) in [(1,2),(2,1),(-1,2),(-2,1),(1,-2),(2,-1),(-1,-2),(-2,-1)]:
        x, y = f+df, r+dr
        if 0<=x<8 and 0<=y<8:
            p = board.get(y*8+x)
            if p and p.upper()=='N' and (p.isupper()==(by=='w')): return True
    for (df, dr) in [(1,0),(-1,0),(0,1),(0,-1),(1,1),(1,-1),(-1,1),(-1,-1)]:
        x, y, first = f+df, r+dr, True
        while 0<=x<8 and 0<=y<8:
            p = board.get(y*8+x)
            if p:
                if p.isupper()==(by=='w'):
                    u = p.upper()
                    if u=='Q' or (u=='R' and (df==0 or dr==0)) or (u=='B' and df!=0 and dr!=0) or (u=='K' and first): return True
                break
            x += df; y += dr; first = False
    pr = -1 if by=='w' else 1  # a white pawn attacks from one rank below
    for df in (1,-1):
        x, y = f+df, r+pr
        if 0<=x<8 and 0<=y<8:
            p = board.get(y*8+x)
            if p == ('P' if by=='w' else 'p'): return True
    return False
def fen(board):
    rows=[]
    for r in range(7,-1,-1):
        s=""; e=0
        for f in range(8):
            p=board.get(r*8+f)
            if p:
                if e: s+=str(e); e=0
                s+=p
            else: e+=1
        if e: s+=str(e)
        rows.append(s)
    return "/".join(rows)+" w - - 0 1"
def make(ms):
    w, b = ms.split("v")
    while True:
        board={}; ok=True
        for colour, side in (("w", w), ("b", b)):
            for c in side:
                p = c if colour=="w" else c.lower()
                for _ in range(100):
                    sq = random.randrange(64)
                    if sq in board: continue
                    if c=='P' and sq//8 in (0,7): continue
                    board[sq]=p; break
        wk=[s for s,p in board.items() if p=='K'][0]; bk=[s for s,p in board.items() if p=='k'][0]
        if attacked(board, bk, 'w') or attacked(board, wk, 'b'): continue
        return fen(board)
sf = subprocess.Popen(["/usr/games/stockfish"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
def ev(f):
    sf.stdin.write(f"position fen {f}\ngo depth 12\n"); last=None
    while True:
        l = sf.stdout.readline()
        if " score " in l: last = l
        if l.startswith("bestmove"): break
    t = last.split(" score ")[1].split()
    return None if t[0]=="mate" else int(t[1])
sf.stdin.write("uci\n")
out=[]
while len(out) < int(sys.argv[2] if len(sys.argv)>2 else 40):
    f = make(random.choice(sets))
    e = ev(f)
    if e is not None and 30 <= abs(e) <= 250: out.append(f)
print("\n".join(out))
