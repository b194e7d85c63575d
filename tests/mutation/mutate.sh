#!/usr/bin/env bash
# Mutation check: applies each single-line fault of tests/mutation/faults.txt
# to the library, one at a time, rebuilds incrementally, runs the tests the
# fault names, and prints whether the suite caught it. Every fault must be
# caught; a survivor is a test to write.
#
#   bash tests/mutation/mutate.sh [--build-dir DIR] [--sample] [--list] [ID...]
#
#   --build-dir DIR  build directory (default build-mutation, configured on
#                    first use; an existing build such as build/ is reused)
#   --sample         only the faults marked `sample: yes` (what CI runs)
#   --list           print the faults and exit
#   ID...            only these faults
#
# A fault edits the working tree in place; the original file is kept in
# DIR/mutation-backup and put back after each fault, on Ctrl-C, on any exit,
# and at the start of the next run if a run was killed outright. Exit status:
# 0 when every fault run was caught, 1 otherwise.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
faults_file=tests/mutation/faults.txt
build=build-mutation sample=0 list=0 only=()
while (($#)); do
  case $1 in
    --build-dir) build=$2; shift 2 ;;
    --sample) sample=1; shift ;;
    --list) list=1; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) only+=("$1"); shift ;;
  esac
done

# The faults: blocks of `key: value` lines (id, file, find, replace, tests,
# sample, why), separated by blank lines; `#` starts a comment line.
ids=() files=() finds=() replaces=() tests=() samples=() whys=()
flush() {
  [[ -n ${f_id:-} ]] || return 0
  ids+=("$f_id") files+=("$f_file") finds+=("$f_find") replaces+=("$f_replace")
  tests+=("$f_tests") samples+=("${f_sample:-no}") whys+=("${f_why:-}")
  f_id= f_file= f_find= f_replace= f_tests= f_sample= f_why=
}
while IFS= read -r line || [[ -n $line ]]; do
  [[ $line =~ ^# ]] && continue
  if [[ -z ${line// } ]]; then flush; continue; fi
  key=${line%%:*} value=${line#*: }
  [[ $value == "$line" ]] && value=${line#*:}
  case $key in
    id|file|find|replace|tests|sample|why) printf -v "f_$key" '%s' "$value" ;;
    *) echo "faults.txt: unknown key '$key'" >&2; exit 2 ;;
  esac
done <"$faults_file"
flush

selected=()
for i in "${!ids[@]}"; do
  if ((${#only[@]})); then
    for o in "${only[@]}"; do [[ $o == "${ids[i]}" ]] && selected+=("$i"); done
  elif ((sample == 0)) || [[ ${samples[i]} == yes ]]; then
    selected+=("$i")
  fi
done

if ((list)); then
  for i in "${selected[@]}"; do
    printf '%-28s %-6s %s\n    %s\n' "${ids[i]}" "$([[ ${samples[i]} == yes ]] && echo sample)" "${files[i]}" "${whys[i]}"
  done
  echo "${#selected[@]} faults"
  exit 0
fi

mkdir -p "$build"
backup=$build/mutation-backup
restore() {
  if [[ -f $backup/path ]]; then
    cp "$backup/original" "$root/$(cat "$backup/path")"
    rm -f "$backup/path" "$backup/original"
  fi
}
mkdir -p "$backup"
restore  # a run killed outright left its fault in place
trap 'restore; exit 130' INT TERM
trap restore EXIT

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXFILT_BUILD_TOOLS=OFF \
    -DVEXFILT_BUILD_EXAMPLES=OFF >"$build/mutation-configure.log" || { cat "$build/mutation-configure.log"; exit 2; }
fi
log=$build/mutation.log
: >"$log"
echo "== baseline build"
cmake --build "$build" -j2 >>"$log" 2>&1 || { echo "the unmutated tree does not build; see $log"; exit 2; }

# The executables the tests matching a ctest regular expression run, and the
# libraries: only these are rebuilt for a fault.
targets_of() {
  ctest --test-dir "$build" -R "$1" --show-only=json-v1 2>/dev/null | /usr/bin/python3 -c '
import json, os, sys
names = {os.path.basename(t["command"][0]) for t in json.load(sys.stdin)["tests"] if t.get("command")}
print(" ".join(sorted(names | {"vexfilt11", "vexfilt_core"})))'
}

# Replaces the one occurrence of the find text by the replacement (literal
# strings); fails unless the find text occurs exactly once.
substitute() {
  perl -e 'my ($f, $a, $b) = @ARGV; local $/; open(my $h, "<", $f) or die; my $s = <$h>; close $h;
    my $n = () = $s =~ /\Q$a\E/g; die "found $n times\n" unless $n == 1;
    $s =~ s/\Q$a\E/$b/; open($h, ">", $f) or die; print $h $s;' "$1" "$2" "$3"
}

caught=0 survived=0 broken=0 results=()
for i in "${selected[@]}"; do
  id=${ids[i]} file=${files[i]}
  printf '%-28s ' "$id"
  start=$SECONDS
  cp "$file" "$backup/original" && printf '%s' "$file" >"$backup/path"
  if ! substitute "$file" "${finds[i]}" "${replaces[i]}" 2>>"$log"; then
    restore; echo "STALE (find text not found once in $file)"; broken=$((broken + 1)); results+=("$id stale"); continue
  fi
  echo "== $id" >>"$log"
  if ! cmake --build "$build" -j2 --target $(targets_of "${tests[i]}") >>"$log" 2>&1; then
    verdict="caught (does not build)"
  elif ctest --test-dir "$build" -j2 -R "${tests[i]}" --timeout 300 >>"$log" 2>&1; then
    verdict=SURVIVED
  else
    verdict=caught
  fi
  restore
  if [[ $verdict == SURVIVED ]]; then survived=$((survived + 1)); else caught=$((caught + 1)); fi
  results+=("$id $verdict")
  echo "$verdict ($((SECONDS - start)) s)"
done

echo "== rebuilding the unmutated tree"
cmake --build "$build" -j2 >>"$log" 2>&1
echo "caught $caught, survived $survived, stale $broken of ${#selected[@]} (details: $log)"
((survived == 0 && broken == 0))
