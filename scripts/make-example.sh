#!/usr/bin/env bash
# Regenerates the bundled English digits example from scratch, deterministically:
# training speech from espeak-ng (several voices, speeds and pitches), the model
# trained on it with `recognize-tool train`, and the example waves in examples/.
#
#   scripts/make-example.sh            everything (speech in examples/generated/)
#   RECOGNIZE_TOOL=path scripts/make-example.sh   use that recognize-tool
#
# Needs espeak-ng and sox. Voices, speeds and pitches of the example waves and of
# scripts/measure-example.sh are held out from training.
set -euo pipefail

# ---------------------------------------------------------------------------
# Shared by scripts/measure-example.sh (which sources this file).

EX_WORDS=(zero one two three four five six seven eight nine)

# espeak-ng voices: a language variant plus a voice variant.
TRAIN_LANGS=(en-us en-gb en-gb-scotland en-gb-x-rp en-029)
TRAIN_VARIANTS=(m1 m3 m5 m6 f1 f3 f5 klatt)
TRAIN_SPEEDS=(130 150 170 190 210 230)
TRAIN_PITCHES=(25 40 55 70 85)
HELDOUT_LANGS=(en-us-nyc en-gb-x-gbclan en-gb-x-gbcwmd)
HELDOUT_VARIANTS=(m2 m4 m7 f2 f4)
HELDOUT_SPEEDS=(140 160 180 200 220)
HELDOUT_PITCHES=(35 50 65 80)

# A linear congruential generator in shell arithmetic, the same on every machine.
rng_seed() { RNG_STATE=$1; }
# Sets REPLY to a number from 0 to $1 - 1.
rng_below() {
  RNG_STATE=$(( (RNG_STATE * 1103515245 + 12345) % 2147483648 ))
  REPLY=$(( (RNG_STATE >> 8) % $1 ))
}
# Sets REPLY to a random element of the named array.
rng_pick() {
  local -n list=$1
  rng_below "${#list[@]}"
  REPLY=${list[$REPLY]}
}
# Sets REPLY to a string of $1 random digits separated by spaces ("3 1 4").
rng_digits() {
  local n=$1 out="" i
  for ((i = 0; i < n; i++)); do rng_below 10; out+="${out:+ }$REPLY"; done
  REPLY=$out
}
# Digits "3 1 4" as words "three one four".
digits_to_words() {
  local out="" d
  for d in $1; do out+="${out:+ }${EX_WORDS[$d]}"; done
  echo "$out"
}

# A long low-level noise recording that every utterance takes a stretch of.
make_noise() {
  [ -f "$1" ] || sox -R -D -n -r 16000 -b 16 -c 1 "$1" synth 60 whitenoise vol 0.5
}

# synth_utterance OUT.wav VOICE SPEED PITCH TEXT NOISE.wav: speech at 16 kHz,
# 16 bits, with a quarter second of lead-in, a level between -7 and -1.4 dB and
# white noise about 45 dB below full scale. Uses the random generator.
synth_utterance() {
  local out=$1 voice=$2 speed=$3 pitch=$4 text=$5 noise=$6
  local raw="$out.raw.wav" speech="$out.speech.wav" gain offset duration
  espeak-ng -v "$voice" -s "$speed" -p "$pitch" -w "$raw" "$text"
  rng_below 9; gain=$(( 85 - REPLY * 5 ))   # 85 % down to 45 %
  sox -R -D "$raw" -r 16000 -b 16 -c 1 "$speech" pad 0.25 0.05 vol "$(printf '%d.%02d' $((gain / 100)) $((gain % 100)))"
  duration=$(soxi -D "$speech")
  rng_below 50; offset=$REPLY
  sox -R -D -m "$speech" -v 0.01 "|sox -R -D $noise -p trim $offset $duration" -b 16 "$out" trim 0 "$duration"
  rm -f "$raw" "$speech"
}

# The recognize-tool to use, built in Release when missing.
find_tool() {
  local tool=${RECOGNIZE_TOOL:-build/recognize-tool}
  if [ ! -x "$tool" ]; then
    scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
    tool=build/recognize-tool
  fi
  echo "$tool"
}

# ---------------------------------------------------------------------------

make_example_main() {
  cd "$(dirname "${BASH_SOURCE[0]}")/.."
  command -v espeak-ng >/dev/null || { echo "espeak-ng is needed (Debian package espeak-ng)"; exit 1; }
  command -v sox >/dev/null || { echo "sox is needed (Debian package sox)"; exit 1; }
  local tool per_voice=${EXAMPLE_UTTERANCES_PER_VOICE:-30} mixtures=${EXAMPLE_MIXTURES:-4}
  tool=$(find_tool)
  local gen=examples/generated/train
  rm -rf "$gen"
  mkdir -p "$gen"
  make_noise examples/generated/noise.wav

  # Training speech: every training voice, random speeds, pitches and digit strings
  # of 1 to 7 digits.
  echo "Synthesizing the training speech into $gen ..."
  rng_seed 20240601
  local list="$gen/train.list" lang variant speed pitch len digits words n=0 i
  : > "$list"
  for lang in "${TRAIN_LANGS[@]}"; do
    for variant in "${TRAIN_VARIANTS[@]}"; do
      for ((i = 0; i < per_voice; i++)); do
        rng_pick TRAIN_SPEEDS; speed=$REPLY
        rng_pick TRAIN_PITCHES; pitch=$REPLY
        rng_below 7; len=$((REPLY + 1))
        rng_digits "$len"; digits=$REPLY
        words=$(digits_to_words "$digits")
        n=$((n + 1))
        local wav; wav=$(printf '%s/%05d.wav' "$gen" "$n")
        synth_utterance "$wav" "$lang+$variant" "$speed" "$pitch" "$words" examples/generated/noise.wav
        printf '%s\t%s\n' "$wav" "$words" >> "$list"
      done
    done
  done
  echo "$n training utterances"

  "$tool" train -C examples/mfcc.cfg -L examples/digits.wpa -m "$mixtures" -i 3 \
    -c examples/digits.count "$list" examples/digits.mac

  # Example waves: held-out voices, speeds and pitches; their digits lead the
  # ten candidate texts of examples/candidates.txt.
  rng_seed 777
  mkdir -p examples/waves
  rm -f examples/waves/*.wav
  local voices=("en-us-nyc+m2" "en-gb-x-gbclan+f4" "en-gb-x-gbcwmd+m7") k
  local -a candidates=()
  for k in 0 1 2; do
    rng_pick HELDOUT_SPEEDS; speed=$REPLY
    rng_pick HELDOUT_PITCHES; pitch=$REPLY
    rng_below 5; len=$((REPLY + 3))
    rng_digits "$len"; digits=$REPLY
    words=$(digits_to_words "$digits")
    local name; name="digits-${digits// /}.wav"
    synth_utterance "examples/waves/$name" "${voices[$k]}" "$speed" "$pitch" "$words" examples/generated/noise.wav
    candidates+=("$words")
    echo "examples/waves/$name: $words (${voices[$k]}, speed $speed, pitch $pitch)"
  done
  # Seven more candidates of 3 to 7 digits, none equal to another.
  while [ "${#candidates[@]}" -lt 10 ]; do
    rng_below 5; len=$((REPLY + 3))
    rng_digits "$len"; words=$(digits_to_words "$REPLY")
    local c dup=0
    for c in "${candidates[@]}"; do [ "$c" = "$words" ] && dup=1; done
    [ $dup = 0 ] && candidates+=("$words")
  done
  printf '%s\n' "${candidates[@]}" > examples/candidates.txt
  echo "Done: examples/digits.mac ($(du -k examples/digits.mac | cut -f1) KB), examples/digits.count," \
    "examples/candidates.txt, examples/waves/"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  make_example_main "$@"
fi
