#!/bin/bash
# The man pages: groff reads them without a warning, and they cover what the
# programs' --help names (commands, options, control lines, fault presets) and
# every message the core can end an operation with.
#
#   man_test.sh MAN-DIR PALVO PALVO-HANDSET [SOURCE-DIR]
set -uo pipefail

mandir=$1
palvo=$2
handset=$3
src=${4:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
failed=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }

page=$mandir/palvo.1
hpage=$mandir/palvo-handset.1
for p in "$page" "$hpage"; do
  [ -s "$p" ] || { fail "no page $p"; continue; }
  out=$(groff -man -ww -z -K utf8 -Tutf8 "$p" 2>&1) || fail "groff failed on $p"
  [ -z "$out" ] || fail "groff warns about $p: $out"
  grep -q '@[A-Z_]*@' "$p" && fail "$p has a placeholder left: $(grep -o '@[A-Z_]*@' "$p" | head -n 1)"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES "EXIT STATUS"; do
    grep -qE "^\.SH \"?$section\"?$" "$p" || fail "$p has no section $section"
  done
done

# The roff form of a name: every "-" escaped.
roff() { sed 's/-/\\-/g' <<<"$1"; }
mentions() {  # page, text: the text in roff form stands in the page
  grep -qF -- "$(roff "$2")" "$1"
}
# The head lines of a page's .TP entries.
entries() { grep -A1 '^\.TP' "$1" | grep -v '^\.TP\|^--$'; }

help=$("$palvo" --help) || fail "palvo --help failed"
for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  entries "$page" | grep -qE "^\.(B|BI|BR) (.* )?$(roff "$option" | sed 's/\\/\\\\/g')( |$)" ||
    fail "palvo.1 has no entry for $option"
done
for command in $(sed -nE 's/^palvo ([a-z]+).*/\1/p' <<<"$help" | sort -u); do
  grep -qF ".SS \"palvo $command" "$page" || fail "palvo.1 has no section for the command $command"
  grep -qF ".B palvo $command" "$page" || fail "palvo.1's SYNOPSIS lacks $command"
done
# Each form of a command, as the help gives it, heads its section word for word.
while IFS= read -r form; do
  grep -qxF ".SS \"$(roff "$form")\"" "$page" || fail "palvo.1 has no section \"$form\""
done < <(grep -E '^palvo [a-z]+( |$)' <<<"$help")

# Every message text of the core, or for the communication errors the part in
# parentheses.
messages=$(find "$src" -name messages.h -not -path '*/build/*' | head -n 1)
if [ -z "$messages" ]; then
  fail "no messages.h under $src"
else
  while IFS= read -r text; do
    case "$text" in
      "") ;;
      通信エラー\(*\)) t=${text#通信エラー(}; mentions "$page" ".B ${t%)}" || fail "palvo.1 does not explain $text" ;;
      通信中です) ;;  # the window's alone: a command already running
      *) mentions "$page" ".B $text" || fail "palvo.1 does not explain $text" ;;
    esac
  done < <(sed -nE 's/^ *X\(MSG_[A-Z0-9_]+, L"([^"]*)".*/\1/p' "$messages")
fi

help=$("$handset" --help) || fail "palvo-handset --help failed"
for option in $(sed -nE 's/^  (--[a-z][a-z-]*).*/\1/p' <<<"$help"); do
  entries "$hpage" | grep -qE "^\.(B|BI|BR) (.* )?$(roff "$option" | sed 's/\\/\\\\/g')( |$)" ||
    fail "palvo-handset.1 has no entry for $option"
done
for line in $(sed -n '/^Control lines/,/^Fault presets/p' <<<"$help" | sed -nE 's/^  ([a-z]+) .*/\1/p'); do
  entries "$hpage" | grep -qE "^\.BI? $line( |$)" || fail "palvo-handset.1 has no entry for the control line $line"
done
for preset in $(sed -n '/^Fault presets/,$p' <<<"$help" | sed 's/.*://' | tr ',.' '  '); do
  mentions "$hpage" ".BR $preset" || fail "palvo-handset.1 does not name the fault preset $preset"
done

echo "man pages checked, $failed failures"
[ $failed = 0 ]
