#!/usr/bin/env bash
# The bash completion of krm-cli: every option and command that --help lists
# (and decode), commands again after a lone ",", --reset after stats, command
# names after raw, files after run, decode and --log, a hand-typed serial port
# path and its line speeds, the virtual CAN bus, the connection-string
# prefixes after --connect with the same ports and buses after them, and
# decode's options and formats. Words with ':' or '@' (which readline breaks
# words at) are completed by a real interactive bash, where a completion made
# for the whole word would double its start. Files live in a temporary folder.
#   completion_test.sh COMPLETION_FILE KRM_CLI
set -uo pipefail
completion="$1"
cli="$2"
[ -f /usr/share/bash-completion/bash_completion ] || { echo "bash-completion is missing: run scripts/install-deps"; exit 1; }
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"
# Outside a completion bash's compopt refuses; the options it sets (no space
# after "tcp:") are not what is checked here.
compopt() { :; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

complete_line() { # LINE: the completions offered at its end, sorted, one line
  COMP_LINE="$1"
  COMP_POINT=${#COMP_LINE}
  read -r -a COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _krm_cli krm-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

check() { # DESCRIPTION EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then echo "ok: $1"; else
    echo "FAILED: $1"; echo "  expected: $2"; echo "  actual:   $3"; failures=$((failures + 1))
  fi
}

options="$(complete_line "krm-cli --")"
commands="$(complete_line "krm-cli --tcp 127.0.0.1:1000 ")"
help="$("$cli" --help)"
for option in $(grep -oE '^  --[a-z-]+' <<<"$help"); do
  [[ " $options " == *" $option "* ]] || { echo "FAILED: option $option of --help not completed"; failures=$((failures + 1)); }
done
for command in $(grep -oE '^  [a-z][a-z-]+ ' <<<"$help") decode scan; do
  [[ " $commands " == *" $command "* ]] || { echo "FAILED: command $command not completed"; failures=$((failures + 1)); }
done

check "commands by prefix" "goto grasp" "$(complete_line "krm-cli --tcp h:1 g")"
check "a command after a lone comma" "decode" "$(complete_line "krm-cli --json --tcp h:1 home , de")"
check "stats takes --reset" "--reset" "$(complete_line "krm-cli --tcp h:1 stats --r")"
check "options before the command" "--json" "$(complete_line "krm-cli --tcp h:1 --js")"
check "command names after raw" "GET_SOFT_LIMITS GET_SPEED GET_SYSINFO GET_SYSTEM_LIMITS GET_SYSTEM_STATE" \
  "$(complete_line "krm-cli --tcp h:1 info , raw get_s")"
check "no names for the payload of raw" "," "$(complete_line "krm-cli --tcp h:1 raw GET_POS ")"

touch "$work/cycle.txt" "$work/capture.pcap"
ln -s /dev/null "$work/gripper-tty"
check "a script file after run" "$work/cycle.txt" "$(complete_line "krm-cli --tcp h:1 run $work/cy")"
check "scan's options" "--only" "$(complete_line "krm-cli scan --on")"
check "a capture after decode" "$work/capture.pcap" "$(complete_line "krm-cli decode $work/cap")"
check "standard input after run" "-" "$(complete_line "krm-cli --tcp h:1 run -")"
check "a log file after --log" "$work/cycle.txt" "$(complete_line "krm-cli --log $work/cy")"
check "a serial port path typed by hand" "$work/gripper-tty" "$(complete_line "krm-cli --serial $work/gri")"
check "Qt's virtual CAN bus" "virtualcan:can0" "$(complete_line "krm-cli --can virt")"
check "connection-string prefixes after --connect" "can: serial: tcp:" "$(complete_line "krm-cli --connect ")"
check "decode's options" "--can-id --format --json" "$(complete_line "krm-cli decode --")"
check "decode's formats" "auto binary candump csv hex pcap" "$(complete_line "krm-cli decode --format ")"
check "standard input after decode" "-" "$(complete_line "krm-cli decode -")"

# Typed into bash and completed with Tab: the line krm-cli then runs with.
typed=(
  "krm-cli --connect serial:$work/gri"
  "krm-cli --connect serial:$work/gripper-tty@11"
  "krm-cli --serial $work/gripper-tty@11"
  "krm-cli --connect can:virt"
  "krm-cli --connect tcp:h:1 ho"
  "krm-cli --tcp 127.0.0.1:1000 in"
  "krm-cli decode --format cs"
)
expected=(
  "--connect serial:$work/gripper-tty"
  "--connect serial:$work/gripper-tty@115200"
  "--serial $work/gripper-tty@115200"
  "--connect can:virtualcan:can0"
  "--connect tcp:h:1 home"
  "--tcp 127.0.0.1:1000 info"
  "decode --format csv"
)
mapfile -t ran < <(python3 "$(dirname "$0")/complete_in_bash.py" "$completion" "${typed[@]}")
for i in "${!typed[@]}"; do
  check "bash completes \"${typed[i]}\"" "${expected[i]}" "${ran[i]:-(no line)}"
done

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "all checks passed"
