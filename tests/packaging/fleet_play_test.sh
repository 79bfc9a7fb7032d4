#!/usr/bin/env bash
# Runs the example playbooks against two bench PCs on this machine (Ansible's
# local connection, no network), each with simulated instruments of its own;
# bench-pc-2's JKL012 refuses the image. Checks that the play fails exactly
# that PC, names exactly that instrument, and that the summaries hold every
# instrument. The verify step switches every meter off and on first (through
# the simulator's power switches), as an operator does along the rack.
#   fleet_play_test.sh install|history|verify CLI SIM_LIBRARY PLAYBOOKS WORK
set -uo pipefail
step=$1 cli=$2 sim_library=$3 playbooks=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Nothing of the caller's simulated instruments or history leaks in.
for name in $(compgen -e | grep -E '^(ZQSIM_|METERLOAD_|ANSIBLE_)'); do
  unset "$name"
done
export ANSIBLE_CONFIG=$playbooks/ansible.cfg ANSIBLE_HOME=$work/ansible-home
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_REMOTE_TEMP=$work/ansible-tmp
export ANSIBLE_NOCOLOR=1 ANSIBLE_DEPRECATION_WARNINGS=0
# Ansible refuses to start under a locale that is not UTF-8 (LC_ALL=C, say).
export LC_ALL=C.UTF-8

play() {
  ansible-playbook -i "$here/fleet_hosts.yml" \
    -e "meterload_cli=$cli" -e "sim_library=$sim_library" -e "work=$work" "$@" 2>&1 \
    | tee "$work/$step-play.log"
  return "${PIPESTATUS[0]}"
}

case $step in
install)
  rm -rf "$work"
  mkdir -p "$work"
  python3 "$here/make_image.py" "$work/main.bin" 02.06 1000
  play "$playbooks/install.yml" -e "firmware=$work/main.bin"
  code=$?
  log=$work/install-play.log
  # ansible-playbook exits 2 when a host failed.
  [ "$code" -eq 2 ] || fail "ansible-playbook exited $code, expected 2"
  fatal=$(grep -E '^fatal: ' "$log")
  expected_fatal='fatal: [bench-pc-2]: FAILED! => {"changed": false, "msg": "JKL012: failed (exit 1): The update failed after the ZQ6140 entered update mode."}'
  [ "$fatal" = "$expected_fatal" ] || fail "the failures reported: ${fatal:-none}; expected only: $expected_fatal"
  grep -qE '^bench-pc-1 +: ok=[0-9]+ +changed=[1-9][0-9]* +unreachable=0 +failed=0 ' "$log" \
    || fail "bench-pc-1 is not reported as updated"
  grep -qE '^bench-pc-2 +: .* failed=1 ' "$log" || fail "bench-pc-2 is not reported as failed"
  expected=$(printf '%s\t%s\t%s\t%s\t%s\n' \
    PC SERIAL BEFORE RESULT VERIFIED \
    bench-pc-1 ABC123 02.05-11-07 installed - \
    bench-pc-1 DEF456 02.05-11-07 installed - \
    bench-pc-2 GHI789 02.05-11-07 installed - \
    bench-pc-2 JKL012 02.05-11-07 'failed (exit 1)' -)
  summary=$work/reports/install-summary.tsv
  if [ "$(cat "$summary" 2>/dev/null)" != "$expected" ]; then
    fail "the summary differs; expected:"; echo "$expected"; echo "actual:"; cat "$summary"
  fi
  for pc in 1 2; do
    report=$work/reports/bench-pc-$pc-install.json
    code=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["exit_code"])' "$report" 2>&1)
    [ "$code" = $((pc - 1)) ] || fail "$report: exit_code $code, expected $((pc - 1))"
  done
  echo "=== summary ($summary)"
  cat "$summary"
  ;;

history)
  play "$playbooks/history.yml"
  code=$?
  [ "$code" -eq 0 ] || fail "ansible-playbook exited $code"
  summary=$work/reports/history-summary.tsv
  # Every column but the time; each PC's records come newest first, and
  # updates that ran at once may finish in either order.
  actual=$(tail -n +2 "$summary" | cut -f1,3-6 | sort)
  expected=$(printf '%s\t%s\t%s\t%s\t%s\n' \
    bench-pc-1 ABC123 02.05-11-07 done main.bin \
    bench-pc-1 DEF456 02.05-11-07 done main.bin \
    bench-pc-2 GHI789 02.05-11-07 done main.bin \
    bench-pc-2 JKL012 02.05-11-07 failed main.bin)
  [ "$(head -n 1 "$summary")" = "$(printf 'PC\tTIME\tSERIAL\tBEFORE\tRESULT\tFILE')" ] \
    || fail "the summary's header: $(head -n 1 "$summary")"
  if [ "$actual" != "$expected" ]; then
    fail "the history summary differs; expected (without times):"; echo "$expected"; echo "actual:"; cat "$summary"
  fi
  times=$(tail -n +2 "$summary" | cut -f2 | grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z$')
  [ "$times" -eq 4 ] || fail "times not in ISO 8601: $(cut -f2 "$summary" | paste -sd' ' -)"
  echo "=== summary ($summary)"
  cat "$summary"
  ;;
verify)
  # Each PC's meters off (its program sees them go), then on again.
  for pc in 1 2; do
    if [ "$pc" = 1 ]; then serials="ABC123 DEF456"; else serials="GHI789 JKL012"; fi
    switches=$work/bench-pc-$pc.switches
    mkdir -p "$switches"
    for serial in $serials; do echo off > "$switches/$serial"; done
    env METERLOAD_VISA_LIBRARY="$sim_library" ZQSIM_SERIALS="${serials// /,}" \
      ZQSIM_STATE="$work/bench-pc-$pc.zqsim.state" ZQSIM_POWER_SWITCHES="$switches" \
      ZQSIM_RECEIVED_VERSIONS=02.06-11-07 $([ "$pc" = 2 ] && echo ZQSIM_JKL012_REPLIES=5) \
      "$cli" list >/dev/null 2>&1
    for serial in $serials; do echo on > "$switches/$serial"; done
  done
  play "$playbooks/verify.yml" -e "firmware=$work/main.bin"
  code=$?
  log=$work/verify-play.log
  [ "$code" -eq 2 ] || fail "ansible-playbook exited $code, expected 2"
  fatal=$(grep -E '^fatal: ' "$log")
  expected_fatal='fatal: [bench-pc-2]: FAILED! => {"changed": false, "msg": "Not verified: JKL012: the ZQ6140 reports DSP 02.05, not 02.06. (exit 7)"}'
  [ "$fatal" = "$expected_fatal" ] || fail "the failures reported: ${fatal:-none}; expected only: $expected_fatal"
  expected=$(printf '%s\t%s\t%s\t%s\t%s\n' \
    PC SERIAL BEFORE RESULT VERIFIED \
    bench-pc-1 ABC123 02.05-11-07 installed verified \
    bench-pc-1 DEF456 02.05-11-07 installed verified \
    bench-pc-2 GHI789 02.05-11-07 installed verified \
    bench-pc-2 JKL012 02.05-11-07 'failed (exit 1)' 'not verified')
  summary=$work/reports/install-summary.tsv
  if [ "$(cat "$summary" 2>/dev/null)" != "$expected" ]; then
    fail "the summary differs; expected:"; echo "$expected"; echo "actual:"; cat "$summary"
  fi
  echo "=== summary ($summary)"
  cat "$summary"
  ;;
esac
[ "$failures" -eq 0 ]
