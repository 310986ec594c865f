#!/usr/bin/env bash
# Measures the bundled digits model on espeak-ng speech whose voices, speeds and
# pitches were held out from training:
#   - recognition: each utterance (3 to 7 digits) against ten candidate digit
#     strings, the right one among them; accuracy = right string recognized;
#   - assessment: the overall score of each utterance against its own text and
#     against a wrong digit string of the same length; the own text should
#     score higher.
# Two harder variants are reported as well: ten candidates that all differ
# from the right one in a single digit, and a wrong text that differs from the
# right one in a single digit.
#
#   scripts/measure-example.sh [utterances]      (default 200)
#   RECOGNIZE=path scripts/measure-example.sh    use that recognize program
#   RECOG_PRM=file ASSESS_PRM=file ...           other parameter files (default
#                                                examples/recog.prm, examples/assess.prm)
#
# The test speech goes to examples/generated/test/ and is made deterministically.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=make-example.sh
source scripts/make-example.sh

count=${1:-200}
recognize=${RECOGNIZE:-build/recognize}
recog_prm=${RECOG_PRM:-examples/recog.prm}
assess_prm=${ASSESS_PRM:-examples/assess.prm}
if [ ! -x "$recognize" ]; then
  scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
  recognize=build/recognize
fi
command -v espeak-ng >/dev/null || { echo "espeak-ng is needed (Debian package espeak-ng)"; exit 1; }
command -v sox >/dev/null || { echo "sox is needed (Debian package sox)"; exit 1; }

gen=examples/generated/test
rm -rf "$gen"
mkdir -p "$gen"
make_noise examples/generated/noise.wav

# A random string of 3 to 7 digits, as words, in REPLY.
random_text() {
  rng_below 5
  rng_digits $((REPLY + 3))
  REPLY=$(digits_to_words "$REPLY")
}

echo "Synthesizing $count held-out utterances into $gen ..."
rng_seed 99173
for ((i = 1; i <= count; i++)); do
  rng_pick HELDOUT_LANGS; lang=$REPLY
  rng_pick HELDOUT_VARIANTS; variant=$REPLY
  rng_pick HELDOUT_SPEEDS; speed=$REPLY
  rng_pick HELDOUT_PITCHES; pitch=$REPLY
  random_text; text=$REPLY
  # Nine other candidates, all different.
  candidates=("$text")
  while [ "${#candidates[@]}" -lt 10 ]; do
    random_text; dup=0
    for c in "${candidates[@]}"; do [ "$c" = "$REPLY" ] && dup=1; done
    [ $dup = 0 ] && candidates+=("$REPLY")
  done
  # Shuffle, so that the right text is not always the first.
  for ((k = 9; k > 0; k--)); do
    rng_below $((k + 1)); j=$REPLY
    tmp=${candidates[$k]}; candidates[$k]=${candidates[$j]}; candidates[$j]=$tmp
  done
  # A wrong text of the same number of digits.
  n=$(wc -w <<< "$text")
  while :; do
    rng_digits "$n"; wrong=$(digits_to_words "$REPLY")
    [ "$wrong" != "$text" ] && break
  done
  # Nine candidates that differ from the right one in one digit each, and one
  # of them as the near-miss text of the assessment.
  read -r -a spoken <<< "$text"
  near=("$text")
  while [ "${#near[@]}" -lt 10 ]; do
    rng_below "$n"; pos=$REPLY
    rng_below 10; [ "${EX_WORDS[$REPLY]}" = "${spoken[$pos]}" ] && continue
    changed=("${spoken[@]}"); changed[$pos]=${EX_WORDS[$REPLY]}
    candidate="${changed[*]}"; dup=0
    for c in "${near[@]}"; do [ "$c" = "$candidate" ] && dup=1; done
    [ $dup = 0 ] && near+=("$candidate")
  done
  wrong1=${near[1]}
  for ((k = 9; k > 0; k--)); do
    rng_below $((k + 1)); j=$REPLY
    tmp=${near[$k]}; near[$k]=${near[$j]}; near[$j]=$tmp
  done
  base=$(printf '%s/%04d' "$gen" "$i")
  synth_utterance "$base.wav" "$lang+$variant" "$speed" "$pitch" "$text" examples/generated/noise.wav
  printf '%s\n' "${candidates[@]}" > "$base.candidates"
  printf '%s\n' "${near[@]}" > "$base.near"
  printf '%s\t%s\t%s\t%s\t%s\n' "$base.wav" "$text" "$wrong" "$wrong1" \
    "$lang+$variant speed $speed pitch $pitch" >> "$gen/test.list"
done

field() { sed -n "s/^$1 = //p" | head -1; }

# Sets REPLY to 1 when the first score is the higher one.
higher() { awk -v a="${1:-nan}" -v b="${2:-nan}" 'BEGIN { exit !(a + 0 > b + 0) }' && REPLY=1 || REPLY=0; }

echo "Recognizing and assessing ..."
start=$(date +%s)
right=0 right1=0 total=0 better=0 better1=0
printf 'wave\ttext\trecognized\trecognized among near misses\town score\twrong score\tnear-miss score\n' \
  > "$gen/results.tsv"
while IFS=$'\t' read -r wav text wrong wrong1 voice; do
  total=$((total + 1))
  got=$("$recognize" "$recog_prm" "$wav" "${wav%.wav}.candidates" | field "Text")
  if [ "$got" = "$text" ]; then
    right=$((right + 1))
  else
    echo "  recognition: $wav ($voice): said \"$text\", recognized \"$got\""
  fi
  got1=$("$recognize" "$recog_prm" "$wav" "${wav%.wav}.near" | field "Text")
  if [ "$got1" = "$text" ]; then
    right1=$((right1 + 1))
  else
    echo "  recognition among near misses: $wav ($voice): said \"$text\", recognized \"$got1\""
  fi
  own=$("$recognize" "$assess_prm" "$wav" "$text" | field "Score")
  other=$("$recognize" "$assess_prm" "$wav" "$wrong" | field "Score")
  other1=$("$recognize" "$assess_prm" "$wav" "$wrong1" | field "Score")
  higher "$own" "$other"; better=$((better + REPLY))
  [ "$REPLY" = 1 ] || echo "  assessment: $wav ($voice): own text \"$text\" scores $own, \"$wrong\" scores $other"
  higher "$own" "$other1"; better1=$((better1 + REPLY))
  [ "$REPLY" = 1 ] || echo "  assessment, near miss: $wav ($voice): own text \"$text\" scores $own, \"$wrong1\" scores $other1"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$wav" "$text" "$got" "$got1" "$own" "$other" "$other1" >> "$gen/results.tsv"
done < "$gen/test.list"
end=$(date +%s)

awk -v r="$right" -v r1="$right1" -v t="$total" -v b="$better" -v b1="$better1" -v s=$((end - start)) 'BEGIN {
  printf "Recognition: %d of %d held-out utterances right among 10 candidates (%.1f %%)\n", r, t, 100 * r / t
  printf "Assessment: own text scored higher than a wrong text of the same length in %d of %d pairs (%.1f %%)\n", b, t, 100 * b / t
  printf "Harder: %d of %d right among 10 candidates that differ from it in one digit (%.1f %%)\n", r1, t, 100 * r1 / t
  printf "Harder: own text scored higher than a text differing in one digit in %d of %d pairs (%.1f %%)\n", b1, t, 100 * b1 / t
  printf "(%d s for %d recognitions and %d assessments; details in examples/generated/test/results.tsv)\n", s, 2 * t, 3 * t
}'
