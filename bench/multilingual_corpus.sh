#!/bin/bash
# Writes a deterministic multilingual UTF-8 corpus of about SIZE bytes
# (default 100000000) to standard output: lines of words in Latin with
# accents, Cyrillic, Greek and CJK, with numbers between them. The same SIZE
# gives the same bytes on every machine (its own generator, no awk rand()).
# Usage: multilingual_corpus.sh [SIZE]
set -eu
SIZE=${1:-100000000}
LC_ALL=C awk -v size="$SIZE" 'BEGIN {
    n = split("café crème brûlée déjà über straße niño mañana garçon forêt naïve élève été hôtel " \
              "Ärger Öl Übermut façade", latin, " ")
    m = split("радость гордость новость молодость скорость слово город время человек работа " \
              "жизнь день рука дело глаз вопрос", cyrillic, " ")
    g = split("αβγ λόγος θάλασσα ουρανός φως ήλιος νύχτα Αθήνα ΕΛΛΑΔΑ ψυχή χρόνος", greek, " ")
    c = split("日本語 中文 東京 漢字 学校 先生 電車 時間 世界 言葉", cjk, " ")
    a = split("the of and alpha beta gamma delta omega error value", ascii, " ")
    seed = 20261209
    total = 0
    while (total < size) {
        line = ""
        words = 6 + next_int(9)
        for (w = 0; w < words; w++) {
            k = next_int(100)
            if (k < 25) word = latin[1 + next_int(n)]
            else if (k < 50) word = cyrillic[1 + next_int(m)]
            else if (k < 65) word = greek[1 + next_int(g)]
            else if (k < 80) word = cjk[1 + next_int(c)]
            else if (k < 95) word = ascii[1 + next_int(a)]
            else word = next_int(100000)
            r = next_int(2000)
            if (r == 0) word = "Σίσυφος"
            else if (r < 4) word = "école"
            else if (r < 6) word = "ÉCOLE"
            else if (r < 8) word = "École"
            line = line (w ? " " : "") word
        }
        print line
        total += length(line) + 1
    }
}
# The minimal standard generator (Park and Miller): every product stays
# below 2^46, exact in awk arithmetic.
function next_int(limit) {
    seed = (seed * 16807) % 2147483647
    return int(seed / 2147483647 * limit)
}'
