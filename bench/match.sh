#!/usr/bin/env bash
# A match under a headless xboard (Xvfb): Talvek on THREADS_A threads against an opponent, both
# thinking at the same time control, colours alternating, pondering off. The opponent is Talvek
# on THREADS_B threads (default), or a Debian engine named by OPPONENT (glaurung, toga2, ...;
# UCI engines go through polyglot, with their "Threads" option set to THREADS_B). Prints Talvek's
# wins, draws and losses, its score and the Elo difference with a 95% interval. Figures are
# printed, never asserted; the match loads both cores, so nothing else should run meanwhile.
# BUILD_B names another build whose Talvek plays second (a before-and-after match); POSITIONS a
# file of FENs, one a line, each played twice with colours swapped (GAMES is then two a line); TABLES a folder of Nalimov
# tables that both Talveks use; PGN a file to keep the games in.
#   GAMES=100 TC=0:02 INC=0.02 THREADS_A=2 THREADS_B=1 bench/match.sh [build-dir]
#   BUILD_B=old-build POSITIONS=endings.fen TABLES=folder THREADS_A=1 bench/match.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
PATH=$PATH:/usr/games
build=${1:-build}
[ -x "$build/talvek" ] || build_target "$build" talvek
binary=$(realpath "$build/talvek")
binaryB=$(realpath "${BUILD_B:-$build}/talvek")
games=${GAMES:-100}
tc=${TC:-0:02}
inc=${INC:-0.02}
threadsA=${THREADS_A:-2}
threadsB=${THREADS_B:-1}
opponent=${OPPONENT:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/a" "$work/b"
printf 'threads %d\nponder off\n' "$threadsA" >"$work/a/talvek.ini"
printf 'threads %d\nponder off\n' "$threadsB" >"$work/b/talvek.ini"
if [[ -n ${TABLES:-} ]]; then
  for side in a b; do printf 'nalimovpath %s\n' "$(realpath "$TABLES")" >>"$work/$side/talvek.ini"; done
fi
positions=()
if [[ -n ${POSITIONS:-} ]]; then
  games=$((2 * $(grep -c . "$POSITIONS")))  # xboard ends the match at the end of the file
  positions=(-lpf "$(realpath "$POSITIONS")" -lpi -2)
fi
# xboard sends one "cores N" (-smpCores, default 1) to every engine that announces smp=1, which
# would set both Talveks alike: each runs behind a filter that gives it its own number instead.
for side in a b; do
  n=$threadsA program=$binary; [[ $side == b ]] && n=$threadsB program=$binaryB
  printf '#!/bin/sh\nsed -u "s/^cores .*/cores %d/" | exec "%s" -xboard\n' "$n" "$program" >"$work/$side/talvek.sh"
  chmod +x "$work/$side/talvek.sh"
done

second=(-scp "$work/b/talvek.sh" -sd "$work/b")
if [[ -n $opponent ]]; then
  printf '[POLYGLOT]\nEngineCommand = %s\nBook = false\n[Engine]\nThreads = %d\nHash = 16\n' \
    "$opponent" "$threadsB" >"$work/b/opponent.ini"
  second=(-scp "polyglot $work/b/opponent.ini" -sd "$work/b")
  [[ $opponent == fairymax ]] && second=(-scp fairymax -sd "$work/b")
fi

# -smpCores: what polyglot passes on to a UCI opponent as Threads; -matchPause: no wait between games.
xvfb-run -a xboard -noGUI -matchMode true -matchGames "$games" -matchPause 200 -smpCores "$threadsB" \
  -fcp "$work/a/talvek.sh" -fd "$work/a" "${second[@]}" \
  -tc "$tc" -inc "$inc" -autoCallFlag true -ponderNextMove false "${positions[@]}" \
  -sgf "$work/games.pgn" -debugMode true -nameOfDebugFile "$work/xboard.debug" -popupExitMessage false -saveSettingsOnExit false -settingsFile /dev/null \
  >"$work/xboard.out" 2>&1 || true

[[ -n ${PGN:-} ]] && cp "$work/games.pgn" "$PGN"
# Talvek is White in the odd games (xboard alternates, the first engine starting as White).
awk '/^\[Result / {
       r = $2; gsub(/[]"]/, "", r); n++
       first = (n % 2 == 1)  # game 1, 3, ...: the first engine has White
       if (r == "1/2-1/2") d++
       else if ((r == "1-0") == first) w++
       else if (r == "1-0" || r == "0-1") l++
     }
     END {
       total = w + d + l
       if (total == 0) { print "no games finished"; exit 1 }
       s = (w + d / 2) / total
       printf "games %d: +%d =%d -%d, score %.1f%%\n", total, w, d, l, 100 * s
       # Elo from the score; the interval from the per-game standard deviation of the score.
       var = (w * (1 - s)^2 + d * (0.5 - s)^2 + l * (0 - s)^2) / total
       se = sqrt(var / total)
       lo = s - 1.96 * se; hi = s + 1.96 * se
       if (lo < 0.001) lo = 0.001; if (hi > 0.999) hi = 0.999
       if (s < 0.001) s = 0.001; if (s > 0.999) s = 0.999
       elo = -400 * log(1 / s - 1) / log(10)
       printf "Elo difference %+.0f, 95%% interval [%+.0f, %+.0f]\n", elo,
              -400 * log(1 / lo - 1) / log(10), -400 * log(1 / hi - 1) / log(10)
     }' "$work/games.pgn"
# What each program was told: the cores line after the filter is not in xboard's log, so the
# log shows xboard's own; the polyglot line shows the opponent's threads.
grep -m2 -E '>(first|second) *: *cores' "$work/xboard.debug" | sed 's/^/xboard sent: /' || true
grep -c 'illegal\|forfeit' "$work/games.pgn" | sed 's/^/games with an illegal move or a forfeit: /' || true
