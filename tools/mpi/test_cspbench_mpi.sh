#!/bin/sh
# The cspbench-mpi executable under mpiexec, one group of cases per call:
#   test_cspbench_mpi.sh MPIEXEC CSPBENCH_MPI PYTHON GROUP
# GROUP: options (bad input stops every process), kinds (the
# checks pass on a tiny problem of every kind), scalapack (the comparison
# runs and reports its ratios, or says why it cannot), files (JSON and CSV
# written and parseable, with the figures of the run).
mpiexec=$1 program=$2 python=$3 group=$4
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run PROCESSES ARGS...: runs the program; its exit status in $status, its
# output in $scratch/out and $scratch/err.
run() {
  processes=$1
  shift
  "$mpiexec" --oversubscribe -np "$processes" "$program" "$@" >"$scratch/out" 2>"$scratch/err"
  status=$?
}

# refused PROCESSES MESSAGE ARGS...: exit status 2, one error line, from one
# process only, naming the fault; nothing run.
refused() {
  processes=$1 message=$2
  shift 2
  run "$processes" "$@"
  [ "$status" -eq 2 ] || fail "$*: exit status $status, not 2"
  [ "$(grep -c '^cspbench-mpi: error:' "$scratch/err")" -eq 1 ] ||
    fail "$*: not one error line: $(cat "$scratch/err")"
  grep -q -- "$message" "$scratch/err" || fail "$*: no '$message' in: $(cat "$scratch/err")"
  [ ! -s "$scratch/out" ] || fail "$*: ran: $(cat "$scratch/out")"
}

# passes PROCESSES ARGS...: exit status 0 and every check PASS.
passes() {
  run "$@"
  [ "$status" -eq 0 ] || fail "$*: exit status $status: $(cat "$scratch/err")"
  grep -q '^Result: PASS' "$scratch/out" || fail "$*: no PASS: $(cat "$scratch/out")"
  ! grep -q 'FAIL' "$scratch/out" || fail "$*: a check failed: $(cat "$scratch/out")"
}

tiny="--n 300 --m 3 --nrhs 2 --repeat 2"

case $group in
options)
  # Every refusal is tested in the parts' tests; here, on two processes,
  # that one process reports it and both stop before any work.
  refused 2 "3 weights for 2 processes" $tiny --layout 1,2,3
  run 2 --help
  [ "$status" -eq 0 ] || fail "--help: exit status $status"
  [ "$(grep -c '^Usage:' "$scratch/out")" -eq 1 ] || fail "--help: not printed once"
  ;;
kinds)
  for kind in 4 8 z4 z8; do
    passes 2 $tiny --kind "$kind" --tasks 1-2 --layout uneven
    passes 2 $tiny --kind "$kind" --matrix random --seed 11 --layout 0,1
  done
  ;;
scalapack)
  passes 2 $tiny --tasks 1 --compare-scalapack --layout 1,2
  grep -Eq '^ +1 .* PASS +[0-9.]+x$' "$scratch/out" || fail "no ratio: $(cat "$scratch/out")"
  grep -q '^ScaLAPACK pdpbsv on the even layout (NB = 150, 1 x 2 grid)' "$scratch/out" ||
    fail "no pdpbsv line: $(cat "$scratch/out")"
  grep -q 'ScaLAPACK ran with the even layout; the csp solver with --layout 1,2' "$scratch/out" ||
    fail "the layouts are not told apart"
  passes 2 $tiny --kind z4 --tasks 1 --compare-scalapack
  grep -q '^ScaLAPACK solved the kind 4 system in complex storage' "$scratch/out" ||
    fail "z4: the system ScaLAPACK solved is not told: $(cat "$scratch/out")"
  grep -Eq 'vs pcpbtrf +vs pcpbtrs' "$scratch/out" || fail "z4: no pcpbtrf, pcpbtrs ratios"
  # N = 12 on 2 processes: NB = 6 < 2M.
  passes 2 --n 12 --m 4 --tasks 1 --compare-scalapack
  grep -q 'ScaLAPACK comparison: .*NB >= 2M' "$scratch/out" || fail "no reason for no comparison"
  ;;
files)
  passes 2 $tiny --tasks 1-2 --compare-scalapack --layout 1,3 \
    --json "$scratch/run.json" --csv "$scratch/run.csv"
  "$python" - "$scratch/run.json" "$scratch/run.csv" <<'PYTHON' || fail "files: see above"
import csv, json, sys
run = json.load(open(sys.argv[1]))
rows = list(csv.DictReader(open(sys.argv[2])))
assert run["program"] == "cspbench-mpi" and run["processes"] == 2, run
assert run["problem"]["n"] == 300 and run["problem"]["layout"] == "1,3", run["problem"]
assert run["columns"] == [75, 225] and run["pass"], run
assert [r["tasks_requested"] for r in run["runs"]] == [1, 2]
for r in run["runs"]:
    assert r["check"]["pass"] and len(r["wall_seconds"]) == 2, r
    assert len(r["factorize_seconds"]) == 2 and len(r["solve_seconds"]) == 2, r
    assert r["scalapack_ratio"] > 0 and r["scalapack_solve_ratio"] > 0, r
sc = run["scalapack"]
assert sc["routine"] == "pdpbsv" and sc["block"] == 150 and sc["check"]["pass"], sc
assert len(rows) == 2, rows
for r, j in zip(rows, run["runs"]):
    assert r["processes"] == "2" and r["layout"] == "1,3" and r["check"] == "PASS", r
    assert float(r["median_s"]) == float("%.9g" % j["time"]["median"]), (r, j)
    assert float(r["scalapack_ratio"]) > 0, r
PYTHON
  ;;
*)
  fail "unknown group '$group'"
  ;;
esac
[ "$failures" -eq 0 ]
