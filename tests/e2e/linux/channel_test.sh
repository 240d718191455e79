#!/bin/bash
# The channel service and Disconnect: a channel program finds the channel service through
# DNS-SD and its ChannelEvent reaches both admitted pads (one over IPv4, one over IPv6) byte
# for byte, while a pad still waiting for its answer gets nothing. SIGHUP then drops every
# pad and brings the pad service back on a new port, announced afresh; the channel service
# and its port stay as they were, and the program still quits cleanly.
set -u
source "$(dirname "$(readlink -f "$0")")/e2e_common.sh"
[[ -n $e2e_pad_tool ]] || e2e_fail "no pad tool given"

# ChannelEvent: size 20, type 7, argument 0x01020304, eight body bytes.
readonly channel_event=1400000007000000040302010a0b0c0d0e0f1011

pad_service_moved() {
    local port
    port=$(e2e_found_port _kesp._tcp) && [[ $port != "$pad_port" ]]
}

e2e_setup_network
e2e_start_server server
pad_port=$(e2e_found_port _kesp._tcp) || e2e_fail "the pad service is not announced"
channel_port=$(e2e_found_port _kespchan._tcp) || e2e_fail "the channel service is not announced"
[[ $channel_port == "$(e2e_shown_channel_port server)" ]] || e2e_fail "the terminal shows another channel port"

e2e_step "a channel event reaches both admitted pads"
e2e_admitted first-pad "$server_ipv4" "$pad_port"
e2e_admitted second-pad "$server_ipv6" "$pad_port"
e2e_client channel-program "$server_ipv4" "$channel_port"
# Its first message may be the event itself: the channel service admits on any first message.
e2e_client_send channel-program "send $channel_event"
for pad in first-pad second-pad; do
    e2e_client_saw "$pad" "^message 7 16909060 $channel_event\$" ||
        e2e_fail "$pad did not get the channel event unchanged"
done

e2e_step "the pad tool's channel event, and none for a pad still waiting"
e2e_client waiting-pad "$server_ipv4" "$pad_port"
e2e_client_send waiting-pad "hello waiting-pad"
e2e_wait_for_questions server 3
e2e_pad_tool channel "$server_ipv6" "$channel_port" --hex "c0ffee" >"$e2e_work/tool-channel.log" 2>&1 ||
    e2e_fail "the pad tool could not send its channel event"
for pad in first-pad second-pad; do
    e2e_client_saw "$pad" '^message 7 [0-9]+ 0f00000007000000[0-9a-f]{8}c0ffee$' ||
        e2e_fail "$pad did not get the pad tool's channel event"
done
sleep 0.5
! grep -q '^message 7 ' "$e2e_work/waiting-pad.log" || e2e_fail "a pad not yet admitted got a channel event"
e2e_answer n
e2e_client_saw waiting-pad '^closed$' || e2e_fail "the refused pad stayed connected"

e2e_step "SIGHUP drops the pads and moves the pad service"
kill -HUP "$e2e_server_pid"
for pad in first-pad second-pad; do
    e2e_client_saw "$pad" '^closed$' || e2e_fail "$pad was not dropped"
done
e2e_wait 30 pad_service_moved ||
    e2e_fail "the pad service is not announced on a new port"
new_pad_port=$(e2e_found_port _kesp._tcp)
echo "pad service moved from $pad_port to $new_pad_port"
[[ $(e2e_found_port _kespchan._tcp) == "$channel_port" ]] || e2e_fail "the channel service moved"
[[ $(grep -c '^Channel server port: ' "$e2e_work/server.out") -eq 1 ]] ||
    e2e_fail "the channel port line changed"
! grep -q '^closed$' "$e2e_work/channel-program.log" || e2e_fail "the channel program was dropped"

e2e_step "the moved service admits again"
# From the other address: the host refused a moment ago is refused without a question.
e2e_admitted third-pad "$server_ipv6" "$new_pad_port"
e2e_client_send channel-program "send $channel_event"
e2e_client_saw third-pad "^message 7 16909060 $channel_event\$" || e2e_fail "no relay after the move"

e2e_stop_server TERM 10
[[ $e2e_server_status -eq 0 ]] || e2e_fail "SIGTERM ended the program with $e2e_server_status"
echo "PASS"
