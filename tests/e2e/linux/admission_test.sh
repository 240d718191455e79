#!/bin/bash
# A pad's way in and its keys: the pad finds the service through DNS-SD, the local user is
# asked on the program's terminal and answers on its standard input; OK admits (HelloReply
# with the host's name, then UdpInfo), Cancel refuses (Refusal, connection closed), over IPv4
# and IPv6, and the refused computer asking again at once is refused without a question. An admitted pad's typed capital letter comes out as the SendInput records of
# Shift and the letter, over TCP and as datagrams. A quit while a question is open still ends
# the program with exit code 0.
set -u
source "$(dirname "$(readlink -f "$0")")/e2e_common.sh"
[[ -n $e2e_pad_tool ]] || e2e_fail "no pad tool given"

# typed_a_times N: standard output holds exactly N typed capital A's and nothing else typed.
typed_a_times() {
    local expected="" i
    for ((i = 0; i < $1; i++)); do
        expected+=${expected:+$'\n'}$e2e_shifted_a
    done
    [[ $(e2e_input_lines) == "$expected" ]]
}

e2e_setup_network
e2e_start_server server
pad_port=$(e2e_found_port _kesp._tcp) || e2e_fail "the pad service is not announced"
readonly host_hex=$(printf '%s' "$(hostname)" | od -An -tx1 -v | tr -d ' \n')

e2e_step "OK admits over IPv4"
e2e_admitted ipv4-pad "$server_ipv4" "$pad_port"
grep -q "^message 2 .*$host_hex" "$e2e_work/ipv4-pad.log" || e2e_fail "the HelloReply does not carry the host name"
# UdpInfo: 56 bytes, the family numbers 2 and 23 in the body.
grep -qE '^message 9 [0-9]+ 38000000090000' "$e2e_work/ipv4-pad.log" || e2e_fail "UdpInfo is not 56 bytes"

e2e_step "OK admits over IPv6"
e2e_admitted ipv6-pad "$server_ipv6" "$pad_port"

e2e_step "a typed capital letter, to the host that the pad tool's browse names"
# A name such as "vm.local", which only DNS-SD knows in the pad's namespace.
tool_host=$(e2e_pad_tool browse | awk -F'\t' '$1 == "pad" { print $3; exit }')
[[ $tool_host == *.local ]] || e2e_fail "the pad tool's browse named the host '$tool_host'"
e2e_admitted_tool typing-pad type "$tool_host" "$pad_port" A
e2e_wait 10 typed_a_times 1 ||
    e2e_fail "typed A gave: $(e2e_input_lines)"

e2e_step "the same as datagrams over IPv6"
e2e_admitted_tool datagram-pad type "$server_ipv6" "$pad_port" --udp A
e2e_wait 10 typed_a_times 2 ||
    e2e_fail "typed A as datagrams gave: $(e2e_input_lines)"

e2e_step "Cancel refuses"
e2e_client refused-pad "$server_ipv6" "$pad_port"
questions=$(e2e_question_count server)
e2e_client_send refused-pad "hello refused-pad"
e2e_wait_for_questions server $((questions + 1))
e2e_answer n
e2e_client_saw refused-pad '^message 3 ' || e2e_fail "no Refusal after Cancel"
e2e_client_saw refused-pad '^closed$' || e2e_fail "the refused connection stayed open"
! grep -q '^message 2 ' "$e2e_work/refused-pad.log" || e2e_fail "a refused pad got a HelloReply"
# Its computer asking again at once is refused without a question.
e2e_client again-pad "$server_ipv6" "$pad_port"
e2e_client_send again-pad "hello again-pad"
e2e_client_saw again-pad '^message 3 ' || e2e_fail "no Refusal for a computer refused a moment ago"
[[ $(e2e_question_count server) -eq $((questions + 1)) ]] || e2e_fail "a computer refused a moment ago was asked about again"
# A refused pad leaves the admitted ones alone.
e2e_client_send ipv4-pad "send 0c000000ffff000000000000"
e2e_wait 3 grep -q '^closed$' "$e2e_work/ipv4-pad.log" && e2e_fail "an admitted pad was dropped"

e2e_step "a wanted application blocks nothing while no application is in front"
# Without an X display no window is in front, so no key is ever refused with a beep.
e2e_admitted_tool wanting-pad want "$server_ipv4" "$pad_port" notepad.exe
e2e_wait 10 grep -q '^Received wanted appplication: notepad.exe$' "$e2e_work/server.err" ||
    e2e_fail "the wanted application did not arrive"
e2e_admitted_tool typing-pad-2 type "$server_ipv4" "$pad_port" A
e2e_wait 10 typed_a_times 3 ||
    e2e_fail "typed A with a wanted application gave: $(e2e_input_lines)"

e2e_step "a quit while a question is open abandons the question"
e2e_client waiting-pad "$server_ipv4" "$pad_port"
questions=$(e2e_question_count server)
e2e_client_send waiting-pad "hello waiting-pad"
e2e_wait_for_questions server $((questions + 1))
e2e_stop_server TERM 15
[[ $e2e_server_status -eq 0 ]] || e2e_fail "the program ended with $e2e_server_status"
grep -q 'Pellvane Server: question abandoned, taken as a refusal.' "$e2e_work/server.err" ||
    e2e_fail "the quit did not abandon the open question"
! grep -q 'quitting without waiting' "$e2e_work/server.err" ||
    e2e_fail "the quit needed the last-resort exit"
! grep -q '^message 2 ' "$e2e_work/waiting-pad.log" || e2e_fail "the waiting pad was admitted"
# Avahi's compatibility library warns about itself unless it is kept quiet.
! grep -q 'WARNING' "$e2e_work/server.err" "$e2e_work/typing-pad.log" ||
    e2e_fail "a DNS-SD library warning reached the user"
echo "PASS"
