#!/usr/bin/env bash
# Runs `recognize-tool bulk` as N shards with GNU parallel, locally or over
# hosts that share the file system, then merges the shards' results into one
# file ordered by list line.
#
#   scripts/bulk-parallel.sh [-n SHARDS] [-j JOBS] [--sshlogin LOGINS] [--threads T] [--resume]
#                            recogParamFile listFile resultsFile
#
#   -n SHARDS          shards (default: the number of cores)
#   -j JOBS            shards run at once on each host (default: all)
#   --sshlogin LOGINS  hosts for GNU parallel (e.g. 2/node1,2/node2); the
#                      paths must be the same on every host
#   --threads T        worker threads of each shard (default 1)
#   --resume           resume every shard from its own results file
# The shards write resultsFile.shard-K-of-N; they are kept, so that a failed
# or interrupted run can be completed with --resume.
set -euo pipefail
shards=$(nproc); jobs=0; sshlogin=""; threads=1; resume=""
while [ $# -gt 0 ]; do
  case "$1" in
    -n) shards="$2"; shift 2 ;;
    -j) jobs="$2"; shift 2 ;;
    --sshlogin) sshlogin="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --resume) resume="--resume"; shift ;;
    -*) echo "Unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 3 ]; then
  sed -n '2,15p' "$0" >&2
  exit 2
fi
command -v parallel >/dev/null || { echo "GNU parallel is not installed (Debian package parallel)" >&2; exit 2; }
param=$(realpath "$1"); list=$(realpath "$2"); results=$(realpath -m "$3")
tool=$(command -v recognize-tool || true)
[ -n "$tool" ] || tool="$(cd "$(dirname "$0")/.." && pwd)/build-release/recognize-tool"
[ -x "$tool" ] || { echo "recognize-tool not found (put it on PATH)" >&2; exit 2; }

remote=()
[ -n "$sshlogin" ] && remote=(--sshlogin "$sshlogin" --workdir "$PWD")
status=0
seq 1 "$shards" | parallel --will-cite -j "$jobs" "${remote[@]}" --halt never \
  "$tool" bulk --quiet -j "$threads" $resume --shard {}/"$shards" "$param" "$list" "$results.shard-{}-of-$shards" \
  || status=$?
# Exit status of parallel: the number of shards that failed (1 for lines
# that failed inside a shard, 2 for a shard that could not start).

# Merge: the lines of every shard, one per id (an ok line over an error line,
# a later line over an earlier one), ordered by list line. GNU parallel needs
# Perl, whose core JSON::PP reads the lines.
perl -MJSON::PP -e '
  my ($results, $shards) = @ARGV;
  my %best;
  for my $k (1 .. $shards) {
    open(my $in, "<", "$results.shard-$k-of-$shards") or next;
    while (my $text = <$in>) {
      next unless $text =~ /\n\z/;
      my $line = eval { JSON::PP->new->decode($text) } or next;
      my $id = $line->{id};
      my $ok = ($line->{status} // "") eq "ok";
      next if exists $best{$id} && $best{$id}{ok} && !$ok;
      $best{$id} = {ok => $ok, line => $line->{line}, text => $text};
    }
  }
  open(my $out, ">", $results) or die "cannot write $results: $!\n";
  print $out $_->{text} for sort { $a->{line} <=> $b->{line} } values %best;
' "$results" "$shards"
exit $(( status > 0 ? 1 : 0 ))
