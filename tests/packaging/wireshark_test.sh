#!/usr/bin/env bash
# The Wireshark dissector on simulator traffic: krm-cli talks to gripper-sim,
# the simulator's --verbose trace gives every frame in and out, and text2pcap
# turns them into TCP captures that tshark dissects with the Lua plugin:
#   - every frame in its own segment, on port 1000 and (heuristic) port 2000;
#   - the port preference, with the heuristic switched off;
#   - a frame split across two segments, two frames in one segment, stray
#     bytes between frames and a frame with a bad checksum.
#   wireshark_test.sh DISSECTOR.lua GRIPPER_SIM KRM_CLI
set -euo pipefail
for tool in tshark text2pcap; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps"; exit 1; }
done
lua="$1"
sim="$2"
cli="$3"
# A copy in a plugin folder would register the protocol before the one under
# test; the test is skipped then (exit code 77) rather than test that copy.
while IFS=$'\t' read -r folder path; do
  case $folder in *"Lua Plugins:"*)
    if [ -e "$path/$(basename "$lua")" ]; then
      echo "skipped: $path/$(basename "$lua") is installed (remove it or the package to test this copy)"
      exit 77
    fi ;;
  esac
done < <(tshark -G folders 2>/dev/null)
work="$(mktemp -d)"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0

check() { # DESCRIPTION EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1"; echo "  expected: $(printf '%q' "$2")"; echo "  actual:   $(printf '%q' "$3")"
    failures=$((failures + 1))
  fi
}

# --- Simulator traffic --------------------------------------------------------
"$sim" --tcp 0 --verbose --part-width 30 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port=""
for _ in $(seq 300); do
  port="$(sed -n 's/^tcp port \([0-9]*\)$/\1/p' "$work/sim.out")"
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "gripper-sim did not start"; cat "$work/sim.err"; exit 1; }

"$cli" --tcp "127.0.0.1:$port" --keep-going --timeout 60 \
  info , limits , stats , home , goto 50 200 , grasp 30 100 , state , stats , \
  accel 2000 , accel , force-limit 40 , force-limit , \
  raw 0x34 10f 90f , raw 0x35 , raw 0x51 '"TAG1"' , raw 0x52 , raw 0x37 1 , raw 0x44 , raw 0x45 , raw 0x44 3 77 0 , \
  watch 1 , release 60 200 , fast-stop , ack >"$work/cli.out" 2>&1 ||
  { echo "krm-cli failed:"; cat "$work/cli.out"; exit 1; }
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=""

# One line per frame: "<" for a request to the gripper, ">" for its answers.
sed -n 's/^\[tcp\] \(RX\|TX\) [0-9a-fA-F]*h [^:]*: \([0-9A-F ]*[0-9A-F]\).*$/\1 \2/p' "$work/sim.err" |
  sed 's/^RX/</; s/^TX/>/' | awk '{ d = $1; $1 = ""; gsub(/ /, ""); print d " " $0 }' >"$work/frames.txt"
frames=$(wc -l <"$work/frames.txt")
[ "$frames" -ge 40 ] || { echo "only $frames frames recorded"; cat "$work/sim.err"; exit 1; }

capture() { # NAME GRIPPER_PORT < "DIR HEX" lines: one TCP segment per line
  cat >"$work/$1.txt"
  text2pcap -q -r '^(?<dir>[<>])\s(?<data>[0-9a-fA-F]+)$' -D -T "45678,$2" -4 127.0.0.1,127.0.0.2 \
    "$work/$1.txt" "$work/$1.pcapng" >"$work/text2pcap.out" 2>&1 || { cat "$work/text2pcap.out"; exit 1; }
}

fields() { # CAPTURE FILTER "FIELD..." [TSHARK OPTIONS...]: the fields' values, one line per packet
  local name="$1" filter="$2" list=() field
  for field in $3; do list+=(-e "$field"); done
  shift 3
  tshark -n -r "$work/$name.pcapng" -X "lua_script:$lua" "$@" -Y "$filter" -T fields -E separator=/s "${list[@]}" \
    2>"$work/tshark.err" || { echo "tshark failed:" >&2; cat "$work/tshark.err" >&2; echo "(tshark failed)"; }
}

count() { # CAPTURE FILTER [TSHARK OPTIONS...]: number of packets that pass the filter
  local name="$1" filter="$2"
  shift 2
  local out
  out="$(tshark -n -r "$work/$name.pcapng" -X "lua_script:$lua" "$@" -Y "$filter" 2>"$work/tshark.err")" ||
    { echo "tshark failed:" >&2; cat "$work/tshark.err" >&2; echo "(tshark failed)"; return; }
  [ -z "$out" ] && echo 0 || wc -l <<<"$out"
}

# --- Every frame in a segment of its own ----------------------------------------
capture whole 1000 <"$work/frames.txt"
capture heuristic 2000 <"$work/frames.txt"
for name in whole heuristic; do
  check "$name: every frame dissected" "$frames" "$(count "$name" krm)"
  check "$name: no checksum mismatch" 0 "$(count "$name" 'krm.checksum.status == 0')"
  check "$name: system information" "1 2 259 12345678" \
    "$(fields "$name" 'krm.kind == "Answer" && krm.command == 0x50' \
       "krm.sysinfo.type krm.sysinfo.hardware_revision krm.sysinfo.firmware_revision krm.sysinfo.serial_number")"
done

check "requests and answers by direction" "Request Answer" \
  "$(fields whole 'frame.number <= 2' krm.kind | tr '\n' ' ' | sed 's/ $//')"
check "system limits" "110 5 420 100 5000 5 80 120" \
  "$(fields whole 'krm.command == 0x53 && krm.kind == "Answer"' "krm.limits.stroke krm.limits.min_speed
     krm.limits.max_speed krm.limits.min_acceleration krm.limits.max_acceleration krm.limits.min_force
     krm.limits.max_force krm.limits.extra" | head -1)"
check "goto request: flags, position, speed" "0x00 50 200" \
  "$(fields whole 'krm.command == 0x21 && krm.kind == "Request"' "krm.goto.flags krm.position krm.speed")"
check "goto answers: pending, then success" "26 0" \
  "$(fields whole 'krm.command == 0x21 && krm.kind == "Answer"' krm.status | tr '\n' ' ' | sed 's/ $//')"
check "status name and text" "Answer GOTO E_CMD_PENDING Command pending..." \
  "$(fields whole 'krm.command == 0x21 && krm.status == 26' "_ws.col.Info krm.status.text")"
check "grasp request: width and speed" "30 100" \
  "$(fields whole 'krm.command == 0x25 && krm.kind == "Request"' "krm.width krm.speed")"
check "grasping state holding" "4" \
  "$(fields whole 'krm.command == 0x41 && krm.kind == "Answer" && krm.grasping_state' krm.grasping_state | head -1)"
check "system state flags by name" "0x00000001 1 0" \
  "$(fields whole 'krm.command == 0x40 && krm.kind == "Answer" && krm.system_state' \
     "krm.system_state krm.system_state.referenced krm.system_state.fast_stop" | head -1)"
check "grasping statistics after one grasp" "1 0 0" \
  "$(fields whole 'krm.command == 0x42 && krm.kind == "Answer"' "krm.stats.grasps krm.stats.not_found
     krm.stats.lost" | tail -1)"
check "acceleration set and read" "2000 2000" \
  "$(fields whole 'krm.acceleration' krm.acceleration | tr '\n' ' ' | sed 's/ $//')"
check "force limit set and read" "40 40" \
  "$(fields whole 'krm.force_limit' krm.force_limit | tr '\n' ' ' | sed 's/ $//')"
check "soft limits set and read" "10 90 10 90" \
  "$(fields whole 'krm.soft_limit.minus' "krm.soft_limit.minus krm.soft_limit.plus" | tr '\n' ' ' | sed 's/ $//')"
check "device tag" "TAG1 TAG1" \
  "$(fields whole 'krm.device_tag' krm.device_tag | tr '\n' ' ' | sed 's/ $//')"
check "report request: options and period" "1 1 77" \
  "$(fields whole 'krm.command == 0x44 && krm.kind == "Request" && krm.report.enable == 1' \
     "krm.report.enable krm.report.on_change krm.report.period" | head -1)"
check "position reports" "yes" \
  "$([ "$(count whole 'krm.command == 0x43 && krm.kind == "Answer" && krm.position')" -ge 3 ] && echo yes || echo no)"
check "fast stop acknowledgement" "ack" "$(fields whole 'krm.command == 0x24 && krm.kind == "Request"' krm.ack)"

# --- The port preference --------------------------------------------------------
check "port 2000 without heuristic: not dissected" 0 "$(count heuristic krm -o krm.heuristic:FALSE)"
check "port preference 2000: dissected" "$frames" "$(count heuristic krm -o krm.heuristic:FALSE -o krm.port:2000)"

# --- Segmentation, stray bytes and a bad checksum ---------------------------------
frame_of() { # COMMAND_HEX DIR: the first recorded frame with this command byte and direction
  grep -i -m1 "^$2 aaaaaa$1" "$work/frames.txt" | cut -d' ' -f2
}
info="$(frame_of 50 '>')"
position="$(frame_of 43 '>')"
state="$(frame_of 40 '>')"
bad_limits="$(frame_of 53 '>' | sed 's/..$/00/')"
[ "${bad_limits: -2}" != "$(frame_of 53 '>' | tail -c 3)" ] || bad_limits="${bad_limits%00}01"
for gripper_port in 1000 2000; do
  name="segments$gripper_port"
  {
    echo "< aaaaaa5000 00db87" | tr -d ' '
    echo "> ${info:0:14}"
    echo "> ${info:14}"
    echo "> $position$state"
    echo "> 0102$state"
    echo "> $bad_limits"
    echo "> ${position:0:4}"
    echo "> ${position:4}"
  } | sed 's/^\([<>]\)/\1 /; s/  / /' | capture "$name" "$gripper_port"
  check "$name: split frame reassembled in its second segment" "3 12345678" \
    "$(fields "$name" 'krm.sysinfo.serial_number' "frame.number krm.sysinfo.serial_number")"
  check "$name: two frames in one segment" "4 0x43,0x40" \
    "$(fields "$name" 'frame.number == 4' "frame.number krm.command")"
  check "$name: bytes between frames" "5 0102 0x40" \
    "$(fields "$name" 'krm.between_frames' "frame.number krm.between_frames krm.command")"
  check "$name: bad checksum with an expert warning" "6 0 yes" \
    "$(fields "$name" 'krm.checksum.status == 0' "frame.number krm.checksum.status _ws.expert.message" |
       sed 's/ Checksum 0x[0-9a-f]* does not match, 0x[0-9a-f]* expected,.*$/ yes/')"
  check "$name: limits still decoded despite the bad checksum" "110" \
    "$(fields "$name" 'krm.checksum.status == 0' krm.limits.stroke)"
  check "$name: frame split after two preamble bytes" "8 0x43" \
    "$(fields "$name" 'frame.number >= 7 && krm.command' "frame.number krm.command")"
done

# --- Direction, links and expert notes (two passes, as Wireshark's window) -------
# The gripper on the higher port and no handshake: requests are still requests.
text2pcap -q -r '^(?<dir>[<>])\s(?<data>[0-9a-fA-F]+)$' -D -T "45678,50000" -4 127.0.0.1,127.0.0.2 \
  "$work/whole.txt" "$work/high.pcapng" >/dev/null 2>&1
requests=$(grep -c '^<' "$work/frames.txt")
for pass in "" -2; do
  check "gripper on the higher port ($pass): requests" "$requests" "$(count high 'krm.kind == "Request"' $pass)"
  check "gripper on the higher port ($pass): answers" "$((frames - requests))" "$(count high 'krm.kind == "Answer"' $pass)"
done
check "gripper on the higher port: device tag request" "TAG1" \
  "$(fields high 'krm.kind == "Request" && krm.device_tag' krm.device_tag -2)"
read -r request pending final <<<"$(fields whole 'krm.command == 0x21' frame.number -2 | tr '\n' ' ')"
check "goto: request, pending answer and final answer linked both ways" \
  "$pending | $request $final | $request $pending" \
  "$(fields whole "frame.number == $request" krm.response_in -2) | $(fields whole "frame.number == $pending" \
     "krm.request_in krm.final_in" -2) | $(fields whole "frame.number == $final" "krm.request_in krm.pending_in" -2)"
check "goto: response times of both answers" "2" \
  "$(fields whole 'krm.command == 0x21 && krm.time >= 0' krm.time -2 | wc -l)"
check "reports are no answers without a request" 0 "$(count whole 'krm.no_request' -2)"

stop="$(frame_of 23 '<')"
info_request="$(frame_of 50 '<')"
info="$(frame_of 50 '>')"
{
  echo "< $info_request"
  echo "> $info"
  echo "> $info"
  echo "< aaaaaa23ffff$stop$stop$stop$stop$stop"
  for _ in $(seq 45); do echo "< $stop"; done
  echo "< aaaaaa234000$stop$stop$stop$stop$stop$stop$stop$stop"
  echo "< ${info_request:0:10}"
} | capture faults 2000
check "false preamble with length 65535: every fast stop after it" 58 \
  "$(fields faults 'krm.command == 0x23' krm.command -2 | tr ',' '\n' | grep -c 0x23)"
check "false preambles cut short" "4 50" "$(fields faults 'krm.cut_short' frame.number -2 | tr '\n' ' ' | sed 's/ $//')"
check "answer without a request" "3" "$(fields faults 'krm.no_request' frame.number -2)"
check "requests without an answer: the fast stops" 58 \
  "$(fields faults 'krm.no_answer' _ws.expert.message -2 | tr ',' '\n' | grep -c 'Request without an answer')"
check "frame cut off by the end of the capture" "51" "$(fields faults 'krm.capture_end' frame.number -2)"

# With the handshake in the capture its SYN names the client, even on the
# first pass and for a request that could also read as an answer (a goto to
# 50 mm starts with 00 00, a status of E_SUCCESS).
goto_request="$(frame_of 21 '<')"
python3 - "$work/handshake.pcap" "$goto_request" <<'PY'
import struct, sys
path, goto = sys.argv[1], bytes.fromhex(sys.argv[2])
client, gripper = (b"\x7f\x00\x00\x01", 1500), (b"\x7f\x00\x00\x02", 40000)
def segment(src, dst, seq, ack, flags, data=b""):
    tcp = struct.pack(">HHIIBBHHH", src[1], dst[1], seq, ack, 5 << 4, flags, 65535, 0, 0) + data
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp), 0, 0, 64, 6, 0, src[0], dst[0])
    return ip + tcp
packets = [segment(gripper, client, 100, 0, 0x02), segment(client, gripper, 500, 101, 0x12),
           segment(gripper, client, 101, 501, 0x10), segment(gripper, client, 101, 501, 0x18, goto)]
with open(path, "wb") as out:
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))  # raw IPv4
    for n, p in enumerate(packets):
        out.write(struct.pack("<IIII", 1700000000, n * 1000, len(p), len(p)) + p)
PY
check "handshake: the SYN sender's goto is a request on the first pass" "Request" \
  "$(tshark -n -r "$work/handshake.pcap" -X "lua_script:$lua" -Y krm -T fields -e krm.kind 2>"$work/tshark.err")"

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "all checks passed"
