#!/usr/bin/env bash
# End-to-end tests of updater.exe under Wine: each scenario puts the program, its script and its
# files in a folder of the Wine prefix's drive C:, runs it on a virtual X display (Xvfb) as on a
# Japanese system (ANSI code page 932, Japanese user interface) unless it names another locale,
# reads every message box it shows, answers it with the keyboard (xdotool), and checks the boxes,
# the files and the exit code.
#
# Usage: tests/wine/run_scenarios.sh [--exe PATH] [--keep] [SCENARIO-FILE...]
#   default scenarios: tests/wine/scenarios/*.scenario
#   --exe PATH   the program to test (default build/windows/updater.exe, built when missing)
#   --keep       keep each scenario's folder and trace (build/windows/wineprefix/drive_c/e2e/)
# Exit status: 0 when every scenario passed, 1 otherwise, 2 when the set-up failed.
#
# A box is read twice: from Wine's relay trace of MessageBoxW (the UTF-16 text and caption the
# program passed, the style and the answer; Wine cuts a long string after about 300 characters,
# and then only the part shown is compared) and from the open dialog itself by box_reader.exe
# (the whole caption and text as shown). Both are compared, as Unicode text, with the expected.
#
# Scenario files (UTF-8; one statement per line; "#" starts a comment line):
#   name NAME                   folder name (default: the file name)
#   locale LANG                 the program's locale (default ja_JP.UTF-8, or KESTARIO_WINE_LANG):
#                               ja_JP.UTF-8 code page 932 and a Japanese user interface,
#                               en_US.UTF-8 code page 1252 and an English one. The scenario's
#                               texts are converted to that code page, and "caption" and
#                               "message" take the catalog of that language.
#   program FILE                the program's file name in the folder (default updater.exe)
#   args WORD...                command-line words after the program's name, split and
#                               unquoted as xargs does (Wine quotes a word with spaces again)
#   script                      the script file follows, up to a line "end"; written beside the
#                               program (same base name, extension ini) in code page 932 with
#                               CRLF line ends. Without it there is no script file.
#   arg WORD                    one more command-line word, taken as it stands
#   script-hex HEX              the script file's exact bytes, in hexadecimal
#   file PATH TEXT              creates PATH (relative to the folder, "\" or "/") holding TEXT
#   file-hex PATH HEX           creates PATH holding exactly the bytes HEX (hexadecimal)
#   file-in ENCODING PATH TEXT  creates PATH holding TEXT in ENCODING (an iconv name: UTF-8,
#                               CP1252 ...) instead of the scenario's code page
#   readonly PATH               makes PATH read-only
#   hidden PATH                 gives PATH the hidden attribute (attrib +h)
#   folder PATH                 creates an empty folder
#   app-path NAME VALUE TEXT    registers App Paths\NAME; VALUE "@" is the default value, else
#                               a value name such as PATH
#   no-app-path NAME            makes sure App Paths\NAME does not exist
#   policy NAME DATA            one REG_SZ value of the machine's signature policy
#                               (HKLM\SOFTWARE\Policies\Kestario\Updater, 64-bit view); the key
#                               is removed again when the scenario ends
#   probe PATH                  puts a real program that starts and ends at once at PATH (the
#                               rest of the line, spaces included)
#   marker PATH                 puts a real program at PATH that, when started, writes its
#                               command line into PATH.ran and ends
#   box KIND ANSWER             the next box: KIND error|information|warning|question or a
#                               style number; ANSWER ok|yes|no
#   caption TEXT                its caption (default: the default caption of texts.def in the
#                               scenario's language)
#   message N ARG...            its text: catalog message N of texts.def in the scenario's
#                               language with its "%s" filled in by the ARGs, separated by " | "
#   text TEXT                   its text, literally
#   expect-file PATH TEXT       PATH exists and holds exactly TEXT
#   expect-exists PATH          PATH exists
#   expect-file-hex PATH HEX    PATH exists and holds exactly the bytes HEX
#   expect-missing PATH         PATH does not exist ("*" and "?": nothing matches)
#   exit CODE                   the exit code as the program returns it (default 0); Wine hands
#                               this Linux harness its low 8 bits (1603 arrives as 67), which are
#                               compared
#   debug CHANNELS              more Wine debug channels for the program's trace.txt (beside the
#                               relay trace of MessageBoxW), such as +eventlog
#   from FOLDER                 the program is started with FOLDER (relative to the scenario's
#                               folder, made before the run) as its current folder, instead of
#                               its own folder
#   before COMMAND              a bash command run in the folder after the files are made and
#                               before the program starts (fails the scenario when it fails)
#   during COMMAND              a bash command started in the background once the program runs;
#                               $RUN_PID is the program's process
#   check COMMAND               a bash command run in the folder after the program has ended; the
#                               scenario fails when it fails
#   cleanup COMMAND             a bash command run in the folder at the end, whatever happened
# The commands see $TOP (the source tree), $WINE_BIN and $WINEPREFIX, and run as the user that
# runs the tests (root in CI, so they may mount a small file system).
# TEXT and ARG values take \n for a line feed and \\ for a backslash; then {dir} stands for the
# folder's Windows path (C:\e2e\NAME) and {user} for the user's name as Wine gives it (the login
# name of the user that runs the tests). Texts are converted to the scenario's code page where the
# program reads or writes them.
set -uo pipefail
user=$(id -un)
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
. "$top/tests/wine/wine_env.sh"

exe=$top/build/windows/updater.exe
keep=0
scenarios=()
while (($#)); do
  case $1 in
    --exe) exe=$(readlink -f "$2"); shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) scenarios+=("$(readlink -f "$1")"); shift ;;
  esac
done
if ((${#scenarios[@]} == 0)); then
  scenarios=("$top"/tests/wine/scenarios/*.scenario)
fi

die() { echo "run_scenarios: $*" >&2; exit 2; }

if [[ ! -f build/windows/CMakeCache.txt ]]; then
  cmake --preset windows >/dev/null || die "cannot configure the windows preset"
fi
targets=(box_reader profile_probe hold_open station_launcher launch_marker updater_report
         event_text)
[[ $exe == "$top/build/windows/updater.exe" ]] && targets+=(updater)
cmake --build --preset windows --target "${targets[@]}" >/dev/null || die "cannot build ${targets[*]}"
[[ -f $exe ]] || die "no program at $exe"
reader=$top/build/windows/box_reader.exe

wine_env_init --display || die "cannot prepare Wine and Xvfb"

# ---- texts -------------------------------------------------------------------------------------

# The catalog and the default caption, from texts.def (UTF-8, C literals): Japanese for a
# Japanese locale, English for every other.
texts_def=$top/resources/texts.def
text_macro() {  # text_macro NAME LANG -> the macro of NAME's texts in the language of LANG
  if [[ $2 == ja_JP* ]]; then echo "$1"; else echo "$1_ENGLISH"; fi
}
catalog_text() {  # catalog_text N LANG -> the raw C literal body of message N
  sed -n "s/^$(text_macro KESTARIO_MESSAGE "$2")($1, \"\(.*\)\")\$/\1/p" "$texts_def"
}
default_caption() {  # default_caption LANG
  sed -n "s/^$(text_macro KESTARIO_CAPTION "$1")(\"\(.*\)\")\$/\1/p" "$texts_def"
}

# Decodes the escapes \n, \\ and \" of a text.
# The text goes through a pipe, not the command line, which could not hold a text of 1 MB.
unescape() { printf '%s' "$1" | perl -0777 -pe 's/\\(n|\\|")/$1 eq "n" ? "\n" : $1/ge'; }

# Fills "%s" placeholders in order (printf-style, "%%" is one "%").
fill_message() {
  local format=$1; shift
  perl -e 'my $f = shift; my @a = @ARGV; $f =~ s/%(s|%)/$1 eq "%" ? "%" : (@a ? shift @a : "")/ge;
           print $f' -- "$format" "$@"
}

# The ANSI code page of a locale, as iconv names it.
code_page() {
  case $1 in
    ja_JP*) echo CP932 ;;
    en_US*|C|C.*|POSIX) echo CP1252 ;;
    *) return 1 ;;
  esac
}
to_acp() { iconv -f UTF-8 -t "$acp"; }
hex() { xxd -p | tr -d '\n'; }
show() { perl -pe 's/\n/\\n/g' | head -c 400; }  # one-line display of a UTF-8 text

# ---- one scenario ------------------------------------------------------------------------------

failures=0
report_failure() {
  printf '    FAIL: %s\n' "$*"
  scenario_failed=1
}

style_of() {
  case $1 in
    error) echo 16 ;; information) echo 64 ;; warning) echo 52 ;; question) echo 36 ;;
    *) echo $(($1)) ;;
  esac
}
answer_code() { case $1 in ok) echo 1 ;; yes) echo 6 ;; no) echo 7 ;; *) echo 0 ;; esac; }
answer_key() { case $1 in ok) echo Return ;; yes) echo y ;; no) echo n ;; *) echo Escape ;; esac; }

# The n-th MessageBoxW call of the trace as four lines: text, caption (UTF-8, in hexadecimal),
# style, cut flag. Wine writes the UTF-16 strings as L"...", a unit outside printable ASCII as
# a backslash and four hexadecimal digits.
# traced_bytes_match N WHAT HEX EXPECTED CUT: whether box N's WHAT (caption, text) as the trace
# has it (HEX) is the EXPECTED text; of a cut trace (CUT 1) only its beginning is compared.
traced_bytes_match() {
  local want
  want=$(printf '%s' "$4" | hex)
  if [[ $5 == 1 ]]; then
    [[ $want == "$3"* ]] || report_failure "box $1: $2 bytes differ (trace cut)"
  else
    [[ $3 == "$want" ]] || report_failure "box $1: $2 bytes $3, expected $want"
  fi
}

trace_call() {
  perl -MEncode -ne '
    next unless /Call user32\.MessageBoxW\((.*)\) ret=/;
    next unless ++$n == '"$2"';
    my $args = $1;
    my @strings;
    # Wine cuts a string after about 290 characters of its escaped form and marks the cut with
    # "...", except for a string just one character too long: one that long counts as cut.
    while ($args =~ /L"((?:\\.|[^"\\])*)"(\.\.\.)?/g) {
      push @strings, [$1, ($2 || length($1) >= 284) ? 1 : 0]; }
    my ($style) = $args =~ /,([0-9a-f]+)$/;
    sub dec { my $s = shift; my @units;
      while ($s =~ /\G(?:\\([0-9a-f]{4})|\\(.)|(.))/gs) {
        push @units, defined $1 ? hex $1 : defined $3 ? ord $3 :
          $2 eq "n" ? 10 : $2 eq "r" ? 13 : $2 eq "t" ? 9 : ord $2; }
      return unpack("H*", encode("UTF-8", decode("UTF-16BE", pack("n*", @units)))); }
    print dec($strings[0][0]), "\n", dec($strings[1][0]), "\n", hex($style), "\n",
          $strings[0][1] || $strings[1][1], "\n";
    exit;' "$1"
}
count_calls() { grep -a -c 'Call user32\.MessageBoxW(' "$1" 2>/dev/null || true; }
count_returns() { grep -a -c 'Ret  user32\.MessageBoxW()' "$1" 2>/dev/null || true; }
nth_return() {
  grep -a 'Ret  user32\.MessageBoxW()' "$1" | sed -n "$2{s/.*retval=\([0-9a-f]*\).*/\1/p}"
}

# Waits until `condition` (a command) succeeds; false after `seconds`.
wait_for() {
  local seconds=$1; shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS >= deadline)) && return 1
    sleep 0.1
  done
}
calls_at_least() { (($(count_calls "$trace") >= $1)); }
returns_at_least() { (($(count_returns "$trace") >= $1)); }
process_ended() { ! kill -0 "$run_pid" 2>/dev/null; }
calls_or_ended() { calls_at_least "$1" || process_ended; }

# The visible box window, read by box_reader.exe: sets box_caption, box_text (UTF-8),
# box_buttons; false when no box is open.
read_open_box() {
  local output
  output=$(wine_run "$reader" 2>/dev/null | tr -d '\r')
  [[ $output == box* ]] || return 1
  box_caption=$(sed -n 's/^caption //p' <<<"$output" | head -1 | xxd -r -p)
  box_text=$(sed -n 's/^text //p' <<<"$output" | head -1 | xxd -r -p; printf x)
  box_text=${box_text%x}
  box_buttons=$(sed -n 's/^buttons //p' <<<"$output" | head -1)
}

# Presses `key` in the box until the n-th call has returned (the key may arrive before the box
# has the focus, so it is repeated). Without a window manager the X input focus does not always
# reach a Wine window; after several tries the button is clicked from inside Wine instead.
answer_box() {
  local n=$1 key=$2 attempt window
  for attempt in 1 2 3 4 5; do
    # Every visible window of the program (normally just the box), newest first.
    for window in $(xdotool search --onlyvisible --classname "^${program//./\\.}\$" 2>/dev/null |
                    tac); do
      xdotool windowfocus --sync "$window" 2>/dev/null || continue
      xdotool key --clearmodifiers "$key" 2>/dev/null
      wait_for 3 returns_at_least "$n" && return 0
    done
    wait_for 2 returns_at_least "$n" && return 0
  done
  local button
  case $key in Return) button=1 ;; y) button=6 ;; n) button=7 ;; *) button=2 ;; esac
  echo "    (box $n: the keyboard did not reach it; clicking button $button from inside Wine)"
  for attempt in 1 2 3; do
    wine_run "$reader" press "$button" >/dev/null 2>&1
    wait_for 5 returns_at_least "$n" && return 0
  done
  return 1
}

# Runs the scenario's commands of one kind (before, check, cleanup) in its folder, in order.
run_hooks() {
  local item
  for item in "${hooks[@]}"; do
    [[ ${item%% *} == "$1" ]] || continue
    if ! (cd "$dir" && TOP=$top WINE_BIN=$WINE_BIN bash -c "${item#* }"); then
      [[ $1 == cleanup ]] || { report_failure "$1 command failed: ${item#* }"; return 1; }
    fi
  done
}

run_scenario() {
  local file=$1
  local name program args=() setup=() boxes=() checks=() exit_expected=0 from=
  local script= has_script=0 in_script=0 line keyword rest hooks=() lang=$LANG acp channels=
  local has_policy=0 policy_key='HKLM\SOFTWARE\Policies\Kestario\Updater'
  name=$(basename "$file" .scenario)
  program=updater.exe
  while IFS= read -r line || [[ -n $line ]]; do
    line=${line%$'\r'}
    if ((in_script)); then
      if [[ $line == end ]]; then in_script=0; else script+=$line$'\n'; fi
      continue
    fi
    [[ -z ${line// } || $line == \#* ]] && continue
    keyword=${line%% *}
    rest=; [[ $line == *" "* ]] && rest=${line#* }
    case $keyword in
      name) name=$rest ;;
      locale) lang=$rest ;;
      program) program=$rest ;;
      args) mapfile -d '' -t args < <(printf '%s' "$rest" | xargs printf '%s\0') ;;
      arg) args+=("$rest") ;;
      script) has_script=1; in_script=1 ;;
      script-hex) has_script=2; script=$rest ;;
      file|file-hex|file-in|readonly|hidden|folder|app-path|no-app-path|probe|marker|policy)
        setup+=("$keyword $rest") ;;
      box) boxes+=("box $rest") ;;
      caption|message|text) boxes+=("$keyword $rest") ;;
      expect-file|expect-file-hex|expect-exists|expect-missing) checks+=("$keyword $rest") ;;
      exit) exit_expected=$rest ;;
      debug) channels+=,$rest ;;
      from) from=${rest//\\//} ;;
      before|during|check|cleanup) hooks+=("$keyword $rest") ;;
      *) echo "    bad line in $file: $line"; return 1 ;;
    esac
  done <"$file"
  acp=$(code_page "$lang") || { echo "    no code page known for the locale $lang"; return 1; }

  local dir=$WINEPREFIX/drive_c/e2e/$name
  local windir="C:\\e2e\\$name"
  [[ -d $dir ]] && chmod -R u+w "$dir"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$exe" "$dir/$program"
  local expand_dir
  expand() { local t=${1//\{user\}/$user}; printf '%s' "${t//\{dir\}/$windir}"; }
  localpath() { local p=${1//\\//}; printf '%s/%s' "$dir" "$p"; }

  local script_file="$dir/${program%.*}.ini"
  if ((has_script == 1)); then
    expand "$script" | to_acp | sed 's/$/\r/' >"$script_file" ||
      { report_failure "the script is not representable in $acp"; return 1; }
  elif ((has_script == 2)); then
    xxd -r -p <<<"$script" >"$script_file"
  fi
  local k
  for k in "${!args[@]}"; do args[k]=$(expand "${args[k]}"); done
  local item kind path text key value
  for item in "${setup[@]}"; do
    kind=${item%% *}; item=${item#* }
    case $kind in
      file)
        path=${item%% *}; text=; [[ $item == *" "* ]] && text=${item#* }
        mkdir -p "$(dirname "$(localpath "$path")")"
        expand "$(unescape "$text")" | to_acp >"$(localpath "$path")" ;;
      file-in)
        local encoding=${item%% *}; item=${item#* }
        path=${item%% *}; text=; [[ $item == *" "* ]] && text=${item#* }
        mkdir -p "$(dirname "$(localpath "$path")")"
        expand "$(unescape "$text")" | iconv -f UTF-8 -t "$encoding" >"$(localpath "$path")" ;;
      file-hex)
        path=${item%% *}; text=; [[ $item == *" "* ]] && text=${item#* }
        mkdir -p "$(dirname "$(localpath "$path")")"
        xxd -r -p <<<"$text" >"$(localpath "$path")" ;;
      readonly) chmod a-w "$(localpath "$item")" ;;
      hidden) wine_run attrib +h "$windir\\${item//\//\\}" >/dev/null 2>&1 ;;
      folder) mkdir -p "$(localpath "$item")" ;;
      probe)  # a real program that starts and ends at once (the rest of the line is its path)
        mkdir -p "$(dirname "$(localpath "$item")")"
        cp "$top/build/windows/profile_probe.exe" "$(localpath "$item")" ;;
      marker)  # a real program that writes its command line into PATH.ran
        mkdir -p "$(dirname "$(localpath "$item")")"
        cp "$top/build/windows/launch_marker.exe" "$(localpath "$item")" ;;
      app-path)
        key=${item%% *}; item=${item#* }; value=${item%% *}; text=${item#* }
        text=$(expand "$text")
        if [[ $value == @ ]]; then
          wine_run reg add "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\$key" \
            /ve /d "$text" /f >/dev/null 2>&1
        else
          wine_run reg add "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\$key" \
            /v "$value" /d "$text" /f >/dev/null 2>&1
        fi ;;
      no-app-path)
        wine_run reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\$item" \
          /f >/dev/null 2>&1 ;;
      policy)
        has_policy=1
        key=${item%% *}; text=${item#* }
        wine_run reg add "$policy_key" /v "$key" /t REG_SZ /d "$text" /f /reg:64 >/dev/null 2>&1 ;;
    esac
  done

  run_hooks before || {
    run_hooks cleanup
    ((has_policy)) && wine_run reg delete "$policy_key" /f /reg:64 >/dev/null 2>&1
    return 1
  }

  # Run the program from its folder (or `from`) in the scenario's locale, with the relay trace
  # of MessageBoxW on stderr.
  trace=$dir/trace.txt
  (cd "$dir/$from" && LANG=$lang WINEDEBUG=+relay$channels exec "$WINE_BIN" "$windir\\$program" "${args[@]}" \
     >"$dir/stdout.txt" 2>"$trace") &
  run_pid=$!
  local during_pids=()
  for item in "${hooks[@]}"; do
    [[ ${item%% *} == during ]] || continue
    (cd "$dir" && RUN_PID=$run_pid TOP=$top WINE_BIN=$WINE_BIN exec bash -c "${item#* }") &
    during_pids+=($!)
  done

  # The boxes, in order.
  local n=0 expected_style expected_answer expected_caption expected_text have_text
  local i=0
  while ((i < ${#boxes[@]})); do
    item=${boxes[i]}; ((i++))
    [[ $item == box* ]] || { echo "    bad scenario: \"$item\" before any box"; return 1; }
    ((n++))
    read -r _ kind value <<<"$item"
    expected_style=$(style_of "$kind")
    expected_answer=$value
    expected_caption=$(default_caption "$lang")
    expected_text=; have_text=0
    while ((i < ${#boxes[@]})) && [[ ${boxes[i]} != box* ]]; do
      item=${boxes[i]}; ((i++))
      case ${item%% *} in
        caption) expected_caption=$(expand "$(unescape "${item#* }")") ;;
        text) expected_text=$(expand "$(unescape "${item#* }")"; printf x)
              expected_text=${expected_text%x}; have_text=1 ;;
        message)
          item=${item#* }
          local number=${item%% *} margs=() format
          [[ $item == *" "* ]] && { item=${item#* }; IFS='|' read -r -a margs <<<"${item// | /|}"; }
          local k; for k in "${!margs[@]}"; do margs[k]=$(expand "$(unescape "${margs[k]}")"); done
          format=$(unescape "$(catalog_text "$number" "$lang")")
          [[ -n $format ]] || { report_failure "texts.def has no message $number"; }
          expected_text=$(fill_message "$format" "${margs[@]}"; printf x)
          expected_text=${expected_text%x}; have_text=1 ;;
      esac
    done

    if ! wait_for 30 calls_or_ended "$n" || ! calls_at_least "$n"; then
      report_failure "box $n was never shown"
      break
    fi
    local call text_hex caption_hex style cut
    call=$(trace_call "$trace" "$n")
    { read -r text_hex; read -r caption_hex; read -r style; read -r cut; } <<<"$call"
    printf '    box %d: style 0x%x, caption "%s", text "%s"\n' "$n" "$style" \
      "$(xxd -r -p <<<"$caption_hex" | show)" "$(xxd -r -p <<<"$text_hex" | show)"
    ((style == expected_style)) ||
      report_failure "box $n: style 0x$(printf %x "$style"), expected 0x$(printf %x "$expected_style")"
    # The texts as passed to MessageBoxW.
    traced_bytes_match "$n" caption "$caption_hex" "$expected_caption" "$cut"
    ((have_text)) && traced_bytes_match "$n" text "$text_hex" "$expected_text" "$cut"
    # The box as shown: caption and whole text.
    if wait_for 10 read_open_box; then
      [[ $box_caption == "$expected_caption" ]] ||
        report_failure "box $n shows the caption \"$(show <<<"$box_caption")\""
      if ((have_text)) && [[ $box_text != "$expected_text" ]]; then
        report_failure "box $n shows the text \"$(printf '%s' "$box_text" | show)\", expected \"$(printf '%s' "$expected_text" | show)\""
      fi
    else
      report_failure "box $n: no open box window found"
    fi
    if ! answer_box "$n" "$(answer_key "$expected_answer")"; then
      report_failure "box $n did not take the answer $expected_answer"
      break
    fi
    local returned
    returned=$(nth_return "$trace" "$n")
    (($((16#${returned:-0})) == $(answer_code "$expected_answer"))) ||
      report_failure "box $n returned $((16#${returned:-0})), expected $(answer_code "$expected_answer")"
  done

  # No further box; the program ends.
  local extra=0
  wait_for 30 calls_or_ended $((n + 1))
  while calls_at_least $((n + 1)) && ((extra < 5)); do
    ((n++)); ((extra++))
    call=$(trace_call "$trace" "$n")
    { read -r text_hex; read -r caption_hex; read -r style; read -r cut; } <<<"$call"
    report_failure "unexpected box $n: \"$(xxd -r -p <<<"$text_hex" | show)\""
    answer_box "$n" Return || break
    wait_for 30 calls_or_ended $((n + 1))
  done
  local status=0
  if ! wait_for 30 process_ended; then
    report_failure "the program did not end"
    kill "$run_pid" 2>/dev/null
  fi
  wait "$run_pid"; status=$?
  ((status == (exit_expected & 255))) ||
    report_failure "exit code $status, expected $((exit_expected & 255)) (the low 8 bits of $exit_expected)"
  local pid
  for pid in "${during_pids[@]}"; do
    wait "$pid" || report_failure "a command during the run failed"
  done
  run_hooks check
  run_hooks cleanup
  ((has_policy)) && wine_run reg delete "$policy_key" /f /reg:64 >/dev/null 2>&1

  for item in "${checks[@]}"; do
    kind=${item%% *}; item=${item#* }
    case $kind in
      expect-file)
        path=${item%% *}; text=; [[ $item == *" "* ]] && text=${item#* }
        if [[ ! -f $(localpath "$path") ]]; then
          report_failure "$path is missing"
        elif ! cmp -s <(expand "$(unescape "$text")" | to_acp) "$(localpath "$path")"; then
          report_failure "$path holds \"$(iconv -f "$acp" -t UTF-8 "$(localpath "$path")" | show)\""
        fi ;;
      expect-file-hex)
        path=${item%% *}; text=; [[ $item == *" "* ]] && text=${item#* }
        if [[ ! -f $(localpath "$path") ]]; then
          report_failure "$path is missing"
        elif [[ $(hex <"$(localpath "$path")") != "$text" ]]; then
          report_failure "$path holds \"$(head -c 200 "$(localpath "$path")" | show)\""
        fi ;;
      expect-exists) [[ -e $(localpath "$item") ]] || report_failure "$item is missing" ;;
      expect-missing)
        if [[ $item == *[*?]* ]]; then
          [[ -z $(compgen -G "$(localpath "$item")") ]] || report_failure "$item matches a file"
        else
          [[ ! -e $(localpath "$item") ]] || report_failure "$item still exists"
        fi ;;
    esac
  done
  chmod -R u+w "$dir" 2>/dev/null
  ((keep)) || rm -rf "$dir"
}

passed=0
for scenario in "${scenarios[@]}"; do
  [[ -f $scenario ]] || die "no scenario file $scenario"
  echo "scenario $(basename "$scenario" .scenario)"
  scenario_failed=0
  run_scenario "$scenario" || scenario_failed=1
  if ((scenario_failed)); then
    ((failures++)); echo "  FAILED"
  else
    ((passed++)); echo "  ok"
  fi
done
echo
echo "run_scenarios: $passed passed, $failures failed"
((failures == 0))
