#!/bin/bash
# The bash completions of dist/bash-completion: what they offer for a table of
# command lines, that they never run the programs, and that their lists of
# commands, options, kinds and fault presets are those of the programs' --help.
#
#   completion_test.sh COMPLETION-DIR PALVO PALVO-HANDSET
set -uo pipefail

dir=$(realpath "$1")
palvo=$(realpath "$2")
handset=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
checked=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }

# Stand-ins on PATH: a completion that ran either program would leave a mark.
mkdir -p "$work/bin"
for p in palvo palvo-handset; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/ran"\n' "$p" "$work" >"$work/bin/$p"
  chmod +x "$work/bin/$p"
done
PATH=$work/bin:$PATH

# shellcheck source=dist/bash-completion/palvo
source "$dir/palvo"
# shellcheck source=dist/bash-completion/palvo-handset
source "$dir/palvo-handset"

# Local files to complete, one with a blank in its name.
mkdir -p "$work/cwd/mydir" "$work/cwd/other dir"
touch "$work/cwd/my file.txt" "$work/cwd/mail000.txt"
cd "$work/cwd" || exit 1

# The words of a command line as bash splits them ("=" a word of its own); the
# last one is being completed. Prints the offers, sorted, joined by "|".
offers() {  # function word...
  local fn=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  "$fn"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd '|'
}

# function | words (the last is being completed, '' for an empty word) | offers
cases=(
  "_palvo|palvo ''|export|get|help|list|pin|put|verify"
  "_palvo|palvo export --|--force|--help|--quiet|--to|--verbose"
  "_palvo|palvo -|--help|--pin-file|--port|--quiet|--trace|--trace-private|--verbose|--version"
  "_palvo|palvo li|list"
  "_palvo|palvo list --|--header|--help|--pin-file|--port|--quiet|--trace|--trace-private|--tsv|--verbose"
  "_palvo|palvo pin --f|--forget"
  "_palvo|palvo help p|pin|put"
  "_palvo|palvo --port o|other dir"
  "_palvo|palvo list --pin-file my|my file.txt|mydir"
  "_palvo|palvo list --trace my|my file.txt|mydir"
  "_palvo|palvo get --a|--all"
  "_palvo|palvo put --|--all|--as|--force|--help|--kind|--pin-file|--port|--quiet|--trace|--trace-private|--verbose|--yes"
  "_palvo|palvo put --all o|other dir"
  "_palvo|palvo put --yes a.gif my|my file.txt|mydir"
  "_palvo|palvo put --kind ''|address|bookmark|file|mail"
  "_palvo|palvo put --kind b|bookmark"
  "_palvo|palvo put --kind = m|mail"
  "_palvo|palvo put --kind =|address|bookmark|file|mail"
  "_palvo|palvo put --kind=a|--kind=address"
  "_palvo|palvo put my|my file.txt|mydir"
  "_palvo|palvo put --kind mail ma|mail000.txt"
  "_palvo|palvo get --to o|other dir"
  "_palvo|palvo get --to out --t|--to|--trace|--trace-private"
  "_palvo|palvo --port p get --t|--to|--trace|--trace-private"
  "_palvo|palvo get ''|"
  "_palvo|palvo put --as ''|"
  "_palvo_handset|palvo-handset --no|--no-register"
  "_palvo_handset|palvo-handset --fault vanish|vanish-download|vanish-listing"
  "_palvo_handset|palvo-handset --content ''|mydir|other dir"
  "_palvo_handset|palvo-handset --script m|mail000.txt|my file.txt|mydir"
  "_palvo_handset|palvo-handset --pin ''|"
)
for c in "${cases[@]}"; do
  IFS='|' read -r fn line want <<<"$c"
  eval "words=($line)"
  # shellcheck disable=SC2154  # words is set by the eval
  got=$(offers "$fn" "${words[@]}")
  checked=$((checked + 1))
  [ "$got" = "$want" ] || fail "'$line': offered '$got', wanted '$want'"
done
[ -e "$work/ran" ] && fail "a completion ran a program: $(cat "$work/ran")"

# The lists against --help.
sorted() { tr ' \n' '\n\n' | grep -v '^$' | sort -u | paste -sd ' '; }
help=$("$palvo" --help) || fail "palvo --help failed"
# --help prints itself without naming --help.
want=$({ grep -oE -- '--[a-z][a-z-]*' <<<"$help"; echo --help; } | sorted)
got=$(for c in $_palvo_commands; do _palvo_options_of "$c"; done
  echo "$_palvo_global_options $_palvo_value_options" | sed 's/--help//')
got=$(echo "$got --help" | sorted)
[ "$got" = "$want" ] || fail "palvo's options: completion has '$got', --help has '$want'"
want=$(sed -nE 's/^palvo ([a-z]+).*/\1/p' <<<"$help" | sorted)
got=$(echo "$_palvo_commands" | sorted)
[ "$got" = "$want" ] || fail "palvo's commands: completion has '$got', --help has '$want'"
want=$(grep -oE -- '--kind [a-z|]+' <<<"$help" | head -n 1 | sed 's/--kind //' | tr '|' ' ' | sorted)
got=$(offers _palvo palvo put --kind '' | tr '|' ' ' | sorted)
[ "$got" = "$want" ] || fail "--kind values: completion has '$got', --help has '$want'"

help=$("$handset" --help) || fail "palvo-handset --help failed"
want=$(sed -nE 's/^  (--[a-z][a-z-]*).*/\1/p' <<<"$help" | sorted)
got=$(echo "$_palvo_handset_options" | sorted)
[ "$got" = "$want" ] || fail "palvo-handset's options: completion has '$got', --help has '$want'"
want=$(sed -n '/^Fault presets/,$p' <<<"$help" | sed 's/.*://' | tr ',.' '  ' | sorted)
got=$(echo "$_palvo_handset_faults" | sorted)
[ "$got" = "$want" ] || fail "fault presets: completion has '$got', --help has '$want'"

echo "$checked command lines and 5 lists checked, $failed failures"
[ $failed = 0 ]
