#!/usr/bin/env bash
# vetra-convert as a user runs it: usage errors, data and user directories
# it cannot use (each told in one line, exit 1, nothing made above a HOME
# that is not there), a quiet first start (--verbose tells the missing
# optional files), inputs of every branch on the built system data with a
# temporary user directory, one line per input whatever the candidates
# hold, standard input, and --learn moving a word up for its abbreviation,
# typing a line as the input method reads it (nothing to learn is no
# failure), its failed save failing the run; answers that cannot be written, an input
# that cannot be read, a damaged core file and a user directory in the data
# directory failing it. Exit 77 (skipped) for the data cases without built
# data.
# Usage: vetra_convert_test.sh VETRA_CONVERT [DATA_DIR [CALIBRATION_TSV]]
set -uo pipefail
program=$1 data=${2:-} calibration=${3:-}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vetra-cli-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
export HOME="$tmp/home"  # the kernel's lock files and the default user directory
mkdir -p "$HOME"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# Runs as a user the file modes hold for: nobody when this is root.
as_other=()
if [[ $(id -u) == 0 ]]; then
  as_other=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod 755 "$tmp"
fi
# own_by_other PATH...: the paths become the other user's.
own_by_other() { [[ ${#as_other[@]} == 0 ]] || chown 65534:65534 "$@"; }

# run EXPECTED_STATUS STDERR_PATTERN ARGS...: the status and a stderr line;
# run_other the same as the other user, with HOME from $other_home.
run() {
  local want=$1 pattern=$2 status=0
  shift 2
  "${runner[@]}" "$program" "$@" >"$tmp/out" 2>"$tmp/err" || status=$?
  [[ $status == "$want" ]] || fail "$* exited $status, not $want: $(cat "$tmp/err")"
  [[ -z $pattern ]] || grep -q -- "$pattern" "$tmp/err" || fail "$*: no '$pattern' on stderr"
}
runner=()
run_other() {
  runner=("${as_other[@]}" env HOME="$other_home")
  run "$@"
  runner=()
}

run 0 "" --help
grep -q "^Usage: vetra-convert" "$tmp/out" || fail "--help prints no usage"
run 2 "unknown option --bogus" --bogus nihao
[[ ! -s $tmp/out ]] || fail "a bad option still converted"
run 2 "needs a value" --top
run 2 "from 1 to 2600" --top 0 nihao
run 2 "from 1 to 2600" --top 3x nihao
run 1 "system data directory $tmp/none: No such file or directory" --data "$tmp/none" --user "$tmp/u" nihao
[[ ! -e $tmp/u ]] || fail "a failed start made the user directory"
# A data file the user cannot read is named, not left out in silence.
mkdir "$tmp/some-data"
touch "$tmp/some-data/"{qzim_py.bin,qzim_hz.bin,qzim_core.bin,qzim_eng.bin}
chmod 000 "$tmp/some-data/qzim_eng.bin"
other_home=$HOME
run_other 1 "some-data: qzim_eng.bin: Permission denied (use --data DIR)" --data "$tmp/some-data" --user "$tmp/u" nihao
chmod 644 "$tmp/some-data/qzim_eng.bin"

# A user directory that cannot be used is told in one line naming it (and
# where it failed), and nothing is made above a HOME that is not there.
# Cases: HOME|--user|the line's end.
mkdir -m 000 "$tmp/closed-home" "$tmp/closed-user"
for case in "$tmp/gone/home||/gone/home/.config/VetraPY: home folder $tmp/gone/home: No such file or directory" \
            "$tmp/closed-home||/closed-home/.config/VetraPY: $tmp/closed-home/.config: Permission denied" \
            "$HOME|$tmp/closed-user|/closed-user: Permission denied"; do
  IFS='|' read -r other_home user told <<<"$case"
  run_other 1 "" --data "$tmp/some-data" ${user:+--user "$user"} --learn nihao
  [[ $(cat "$tmp/err") == "vetra-convert: no usable user directory $tmp$told (use --user DIR)" ]] ||
    fail "HOME $other_home, --user '$user': $(cat "$tmp/err")"
done
[[ ! -e $tmp/gone ]] || fail "folders were made above a HOME that is not there"

[[ -n $data && -f $data/qzim_core.bin ]] || { ((failures == 0)) && exit 77; exit 1; }
user="$tmp/user"
before=$(cd "$data" && ls -lL --time-style=+%s)
# The built system data is for every user of the machine to read.
closed=$(find "$data" \( -type f ! -perm -0444 \) -o \( -type d ! -perm -0555 \) -printf '%P ')
[[ -z $closed ]] || fail "system data other users cannot read: $closed"

# A first start is quiet about the optional files not made yet; --verbose
# tells them.
run 0 "No such file or directory" --verbose --data "$data" --user "$tmp/first" nihao
run 0 "" --data "$data" --user "$user" nihao
[[ ! -s $tmp/err ]] || fail "a first start printed: $(cat "$tmp/err")"

# A HOME naming a missing folder is told in one line, and conversion goes on.
HOME="$tmp/no-such-home" run 0 "no usable user data directory" --data "$data" --user "$tmp/homeless" nihao
[[ $(wc -l <"$tmp/err") == 1 ]] || fail "a missing HOME was told in $(wc -l <"$tmp/err") lines"
[[ $(cat "$tmp/out") == $'nihao\t你好'* ]] || fail "no conversion without a HOME: $(cat "$tmp/out")"

# The kernel's own notes (an empty user dictionary is removed and told) go
# to standard error, never between the answers.
mkdir "$tmp/emptied" && : >"$tmp/emptied/qzim_usr_v3new.bin"
run 0 "qzim_usr_v3new.bin: empty, removed" --data "$data" --user "$tmp/emptied" nihao
[[ $(cat "$tmp/out") == $'nihao\t你好'* && $(wc -l <"$tmp/out") == 1 ]] ||
  fail "kernel notes among the answers: $(cat "$tmp/out")"

# One line per input: the input, then its first candidates (at most --top).
run 0 "" --data "$data" --user "$user" --top 3 v1+2 '>12.5' www.goo nihao hello zg
expected=$'v1+2\t3\t1+2=3\n>12.5\t一十二元五角\t壹拾贰元伍角\nwww.goo\twww.google.com'
[[ $(head -3 "$tmp/out") == "$expected" ]] || fail "special and web-address lines: $(cat "$tmp/out")"
[[ $(sed -n 4p "$tmp/out") == $'nihao\t你好\t'* ]] || fail "nihao: $(sed -n 4p "$tmp/out")"
[[ $(sed -n 5p "$tmp/out" | awk -F'\t' '$1 == "hello" { print NF }') == 4 ]] || fail "hello: not three candidates"
[[ $(wc -l <"$tmp/out") == 6 ]] || fail "not one line per input"
zg_before=$(sed -n 6p "$tmp/out")
[[ $zg_before != $'zg\t中国'* ]] || fail "中国 already first for zg: $zg_before"

# The first five: the key-by-key reading of an abbreviation, a leading
# apostrophe, a common mail domain, and no rare English word beside pinyin.
# Still one line per input when a candidate has line breaks (xin's heart,
# fangzi's house) or the input a TAB: both are escaped.
run 0 "" --data "$data" --user "$tmp/first-five" --top 5 gaj "'nihao" xx@qq tamen xin fangzi $'shi\tr'
patterns=($'gaj\t*\t公安局*' $'\'nihao\t你好\t*' $'xx@qq\txx@qq.com' $'tamen\t他们\t*'
          $'xin\t*♥\\\\n*' $'fangzi\t*\\\\n*' $'shi\\\\tr\t是*')
for i in "${!patterns[@]}"; do
  line=$(sed -n "$((i + 1))p" "$tmp/out")
  [[ $line == ${patterns[$i]} && $line != *tameness* ]] || fail "first five: $line"
done
[[ $(wc -l <"$tmp/out") == "${#patterns[@]}" ]] || fail "not one line per input: $(cat "$tmp/out")"

# Standard input, one line each. A line over 78 characters or not UTF-8 is
# told in one short line (the line cut, control characters and bytes that
# are not UTF-8 escaped, as in its answer) and fails the run.
long=$(printf 'a%.0s' {1..79}) huge=$(head -c 100000 /dev/zero | tr '\0' a)
printf 'zhongguo\n%s\n%s\nni\377\033hao\n' "$long" "$huge" |
  "$program" --data "$data" --user "$user" --top 1 >"$tmp/out" 2>"$tmp/err"
[[ $? == 1 ]] || fail "over-long and malformed inputs did not fail the run"
[[ $(cat "$tmp/out") == $'zhongguo\t中国\n'"$long"$'\n'"$huge"$'\nni\\xFF\\x1Bhao' ]] ||
  fail "standard input lines: $(head -c 300 "$tmp/out")"
cut40=$(printf 'a%.0s' {1..40})...
[[ $(cat "$tmp/err") == "vetra-convert: longer than 78 characters (79): $cut40
vetra-convert: longer than 78 characters (100000): $cut40
vetra-convert: not UTF-8: ni\xFF\x1Bhao" ]] || fail "over-long and malformed inputs told: $(head -c 300 "$tmp/err")"

# Every calibration reading and the inputs whose texts lie at odd addresses
# convert, a page each (under the sanitizers an unaligned read stops the run).
if [[ -n $calibration ]]; then
  { printf "'a\n'c\nlo\n"; grep -v '^#' "$calibration" | cut -f2 | tr -d ' '; } |
    "$program" --data "$data" --user "$user" --top 10 >"$tmp/out" 2>"$tmp/err" ||
    fail "the calibration readings: $(tail -3 "$tmp/err")"
  [[ $(wc -l <"$tmp/out") == $(( $(grep -vc '^#' "$calibration") + 3 )) ]] || fail "not one line per reading"
fi

# Learning 中国 brings it first for its abbreviation, in a later run too.
run 0 "" --data "$data" --user "$user" --learn zhongguo
run 0 "" --data "$data" --user "$user" zg
[[ $(cat "$tmp/out") == $'zg\t中国'* ]] || fail "the learned word did not come first: $(cat "$tmp/out")"
[[ -f $user/qzim_usr_v3new.bin ]] || fail "the user dictionary was not saved"

# Lines that hold nothing to learn (a number, also one written in Chinese
# numerals, an amount, a date, a calculation, a web address, punctuation)
# learn nothing and fail nothing; --verbose notes each.
nothing=(123 v123 v12345 v3.14 v2026.12.8 '>12.5' v1+2 www.goo ,)
run 0 "" --verbose --data "$data" --user "$user" --learn "${nothing[@]}"
[[ $(wc -l <"$tmp/out") == "${#nothing[@]}" ]] || fail "nothing to learn: $(cat "$tmp/out")"
for input in "${nothing[@]}"; do
  grep -qxF -- "vetra-convert: nothing to learn in $input" "$tmp/err" || fail "$input: $(cat "$tmp/err")"
done
run 0 "" --data "$data" --user "$user" --learn 123 ,
[[ ! -s $tmp/err ]] || fail "nothing to learn was told without --verbose: $(cat "$tmp/err")"

# A --learn line is typed as into the input method: each run of letters is
# committed as Space commits it and learned; punctuation, a space or a
# hyphen between go out as typed, a "." too where it makes no web address.
# A number key chooses that candidate of the page (the rest, if any, as
# Space commits it); 0, or one past the page, is typed into the letters,
# which then go out as they stand. A capital stays as typed (no letters are
# learned beside Chinese), and tone marks or Chinese text are no keys.
# None of it is the user dictionary's refusal (each failed the run, blaming
# it). Each from the same fresh user directory. Cases: input|an input and
# its first candidate after it (INPUT#N: the Nth candidate of INPUT before,
# + joins)|the --verbose note's end (none: no note).
"$program" --data "$data" --user "$tmp/learn-fresh" nihao >/dev/null 2>&1
candidate() { "$program" --data "$data" --user "$tmp/learn-fresh" --top "$2" "$1" 2>/dev/null | cut -f$(($2 + 1)); }
for case in "nihao,|nh=你好|" "haode.|hd=好的|" "ni hao|nh=内核|" "ni-hao|nh=内核|" "ni3hao3|ni=ni#3|" \
            "nihao3|nh=nihao#3+hao#1|" "ni6|ni=你|: 6 chooses no candidate there, so the composition goes out as it stands" \
            "zhongguo2026|zg=这个|: 0 chooses no candidate there, so the composition goes out as it stands" \
            "Nihao|nh=内核|: N goes out as letters, which are not learned beside Chinese" \
            "nǐhǎo|nh=内核|: ǐ is no key of the input method" "你好|nh=内核|: 你 is no key of the input method"; do
  IFS='|' read -r input check note <<<"$case"
  want=
  IFS=+ read -ra parts <<<"${check#*=}"
  for part in "${parts[@]}"; do
    [[ $part == *'#'* ]] && part=$(candidate "${part%#*}" "${part#*#}")
    want+=$part
  done
  rm -rf "$tmp/learn" && cp -a "$tmp/learn-fresh" "$tmp/learn"
  run 0 "" --verbose --data "$data" --user "$tmp/learn" --learn "$input"
  [[ $(grep '^vetra-convert:' "$tmp/err") == "${note:+vetra-convert: nothing to learn in $input$note}" ]] ||
    fail "--learn '$input': $(cat "$tmp/err")"
  run 0 "" --data "$data" --user "$tmp/learn" --top 1 "${check%%=*}"
  [[ $(cat "$tmp/out") == "${check%%=*}"$'\t'"$want" ]] || fail "after --learn '$input': $(cat "$tmp/out")"
done

# Answers that cannot be written and an input that cannot be read fail the
# run, told in a line. Cases: standard input|arguments|the line.
for case in "/dev/null|nihao|cannot write the answers: No space left on device" \
            "$tmp/in-words||cannot write the answers: No space left on device" \
            "$tmp||cannot read standard input: Is a directory"; do
  IFS='|' read -r input args told <<<"$case"
  echo nihao >"$tmp/in-words"
  "$program" --data "$data" --user "$user" $args <"$input" >/dev/full 2>"$tmp/err"
  status=$?
  [[ $status == 1 ]] && grep -q "^vetra-convert: $told$" "$tmp/err" ||
    fail "input $input, args '$args': exit $status, $(cat "$tmp/err")"
done

# A core data file that is there but cut or damaged is refused as a missing
# one is, named in one line: no run that can only echo the letters typed.
# The data are links to the built files but the one spoilt.
for case in "qzim_core.bin|cut" "qzim_core.bin|zeroed" "qzim_py.bin|zeroed" "qzim_py.bin|cut"; do
  IFS='|' read -r spoilt how <<<"$case"
  rm -rf "$tmp/spoilt" "$tmp/spoilt.bin" && mkdir "$tmp/spoilt" && ln -s "$data"/* "$tmp/spoilt/"
  # Spoilt apart and moved over its link: never written through it.
  size=$(stat -Lc %s "$data/$spoilt")
  if [[ $how == cut ]]; then
    head -c $((size / 2)) "$data/$spoilt" >"$tmp/spoilt.bin"
  else
    cp "$data/$spoilt" "$tmp/spoilt.bin"
    head -c 16 /dev/zero | dd of="$tmp/spoilt.bin" conv=notrunc status=none
  fi
  mv -f "$tmp/spoilt.bin" "$tmp/spoilt/$spoilt"
  run 1 "no conversion without it: $tmp/spoilt/$spoilt$" --data "$tmp/spoilt" --user "$user" nihao
  [[ ! -s $tmp/out ]] || fail "$spoilt $how: converted: $(cat "$tmp/out")"
done

# A text file of the scheme or the data with bytes that are no text (here
# 700 bytes 0xFF, no GBK) is told in one line naming it and what is wrong,
# and read as far as it goes: it used to print a bare "iconv:" line for
# every such byte. A UTF-8 file without its byte-order mark, read as GBK,
# is told so. Cases: folder (user: a fresh user directory; data: links to
# the built data)|file|its text (bad: the 700 bytes)|the line's end.
printf '\xff%.0s' {1..700} >"$tmp/bad-bytes"
for case in "user|Fuzzy.dat|bad|Fuzzy.dat: 700 bytes are not GBK text, the first on line 1" \
            "user|Correction.ini|bad|Correction.ini: no [Correction] section, the data's rules are used; 700 bytes are not GBK text, the first on line 1" \
            "user|Fuzzy.dat|[Fuzzy]\n# 模糊音\nz=zh\n|Fuzzy.dat: 1 byte is not GBK text, the first on line 2 (the file is UTF-8 text: save it with a byte-order mark)" \
            "data|punctures.ini|bad|punctures.ini: 0 of its 34 punctuation marks readable; 700 bytes are not GBK text, the first on line 1"; do
  IFS='|' read -r where file text told <<<"$case"
  rm -rf "$tmp/damaged" "$tmp/damaged-data" && mkdir "$tmp/damaged" "$tmp/damaged-data"
  ln -s "$data"/* "$tmp/damaged-data/"
  at=$tmp/damaged
  [[ $where == data ]] && at=$tmp/damaged-data && rm "$at/$file"
  if [[ $text == bad ]]; then cp "$tmp/bad-bytes" "$at/$file"; else printf "$text" >"$at/$file"; fi
  run 0 "" --data "$tmp/damaged-data" --user "$tmp/damaged" zongguo
  reader=KeyPyMap: && [[ $where == data ]] && reader="PunctureDict: not ready:"
  [[ $(cat "$tmp/err") == "vetra kernel: $reader $at/$told" ]] || fail "damaged $file: $(head -3 "$tmp/err")"
  # The rule after the UTF-8 comment is read.
  [[ $text == bad || $(cat "$tmp/out") == $'zongguo\t中国'* ]] || fail "$file's rule: $(cat "$tmp/out")"
done

# A user directory that is the data directory, holds it or lies in it (also
# through a link or "..") is refused before anything is made there: the
# kernel took the system's phrase table for a damaged user file and moved
# it away. The data are links to the built files.
mkdir -p "$tmp/shared/data" && ln -s "$data"/* "$tmp/shared/data/"
ln -s "$tmp/shared/data" "$tmp/data-link"
for case in "$tmp/shared/data|is" "$tmp/data-link|is" "$tmp/shared/data/x/..|is" \
            "$tmp/shared|holds" "$tmp/shared/data/mine|lies in"; do
  IFS='|' read -r user_dir how <<<"$case"
  run 1 "the user directory $user_dir $how the system data directory $tmp/shared/data (use --user DIR)" \
    --data "$tmp/shared/data" --user "$user_dir" --learn rq
done
# The same folders under names no link resolution joins: bind mounts, in a
# mount namespace of the run's own (left out where none can be had).
if unshare -Urm true 2>/dev/null; then
  for case in "$tmp/shared/data|$tmp/alias|$tmp/alias|is" "$tmp/shared/data|$tmp/alias|$tmp/alias/mine|lies in" \
              "$tmp/shared|$tmp/holder|$tmp/holder|holds"; do
    IFS='|' read -r from to user_dir how <<<"$case"
    mkdir -p "$to"
    runner=(unshare -Urm sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' bind "$from" "$to")
    run 1 "the user directory $user_dir $how the system data directory $tmp/shared/data (use --user DIR)" \
      --data "$tmp/shared/data" --user "$user_dir" --learn rq
    runner=()
  done
fi
[[ $(cd "$tmp/shared/data" && ls) == $(cd "$data" && ls) ]] || fail "the data directory changed: $(ls "$tmp/shared/data")"

# A save that fails at the end fails the run: the user directory is closed
# while the learned input is waited on.
mkdir "$tmp/closing" && own_by_other "$tmp/closing"
mkfifo "$tmp/in"
"${as_other[@]}" "$program" --data "$data" --user "$tmp/closing" --learn <"$tmp/in" >"$tmp/out" 2>"$tmp/err" &
pid=$!
exec 7>"$tmp/in"
echo zhongguo >&7
for _ in $(seq 100); do [[ -s $tmp/out ]] && break; sleep 0.1; done
chmod 555 "$tmp/closing"
exec 7>&-
wait "$pid"
status=$?
[[ $status == 1 ]] && grep -q "could not save into the user directory $tmp/closing" "$tmp/err" ||
  fail "a failed save: exit $status, $(cat "$tmp/err")"
chmod 755 "$tmp/closing"

# The default user directory is the user's own.
run 0 "" --data "$data" --learn zhongguo
[[ -f $HOME/.config/VetraPY/qzim_usr_v3new.bin ]] || fail "no user dictionary in ~/.config/VetraPY"
[[ $(cd "$data" && ls -lL --time-style=+%s) == "$before" ]] || fail "the system data directory changed"
((failures == 0))
