#!/usr/bin/env bash
# The looping alarm heard for real: a PulseAudio null sink stands in for the
# sound card, and what it is sent is captured while the emergency window is
# open and again after it has closed. Exit 77 (skip) where no sound server can
# run here. With "streamed", the sound is first given the sizes a recorder
# that streams leaves in the header (0xFFFFFFFF); it must play all the same.
# Usage: sound_test.sh HELPER WAV OUTPUT_DIR [streamed]
set -u
helper=$1 wav=$2 out=$3 variant=${4:-}
mkdir -p "$out"
for c in pulseaudio parecord pactl sox; do
  command -v "$c" >/dev/null || { echo "SKIP: $c is not installed"; exit 77; }
done
run=$(mktemp -d)
chmod 700 "$run"
export XDG_RUNTIME_DIR=$run HOME=$run
unset PULSE_SERVER
pa_pid=
cleanup() {
  [[ -n ${helper_pid:-} ]] && kill "$helper_pid" 2>/dev/null
  [[ -n $pa_pid ]] && kill "$pa_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT

if [[ $variant == streamed ]]; then
  # The shipped sound has a 44-byte header: the RIFF size at 4, the data size at 40.
  cp "$wav" "$run/streamed.wav"
  for at in 4 40; do
    printf '\xff\xff\xff\xff' | dd of="$run/streamed.wav" bs=1 seek=$at conv=notrunc status=none
  done
  wav=$run/streamed.wav
fi

pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
  --load="module-null-sink sink_name=nullsink" --load=module-native-protocol-unix \
  >"$out/pulseaudio.log" 2>&1 &
pa_pid=$!
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { echo "SKIP: pulseaudio did not start"; cat "$out/pulseaudio.log"; exit 77; }
pactl set-default-sink nullsink

# Root mean square amplitude of 1.5 s of what the sink plays. A sink with no
# stream may deliver no samples at all: that is silence too (the capture
# while the window is open shows the path works in the same run).
capture() {
  timeout 1.5 parecord -d nullsink.monitor --file-format=wav "$out/$1.wav" 2>/dev/null
  if (($(stat -c %s "$out/$1.wav" 2>/dev/null || echo 0) <= 44)); then
    echo 0
    return
  fi
  # parecord stopped by the time-out may leave the header's length at 0:
  # count the samples that are there.
  sox --ignore-length "$out/$1.wav" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}'
}

coproc HELPER { QT_QPA_PLATFORM=offscreen "$helper" "$wav" 2>"$out/helper.log"; }
helper_pid=$HELPER_PID
read -r -t 10 -u "${HELPER[0]}" line || line=
[[ $line == OPEN ]] || { echo "FAIL: the window did not open"; cat "$out/helper.log"; exit 1; }
sleep 0.5
open_rms=$(capture open)
echo close >&"${HELPER[1]}"
read -r -t 10 -u "${HELPER[0]}" line || line=
[[ $line == CLOSED ]] || { echo "FAIL: the window did not close"; exit 1; }
sleep 0.3
closed_rms=$(capture closed)
echo quit >&"${HELPER[1]}"
wait "$helper_pid" 2>/dev/null
helper_pid=

echo "RMS while open: ${open_rms:-none}, after close: ${closed_rms:-none}"
awk -v a="${open_rms:-0}" 'BEGIN { exit !(a > 0.01) }' ||
  { echo "FAIL: silent while the window was open"; cat "$out/helper.log"; exit 1; }
awk -v b="${closed_rms:-1}" 'BEGIN { exit !(b < 0.001) }' ||
  { echo "FAIL: still sounding after the window closed"; exit 1; }
echo "PASS"
