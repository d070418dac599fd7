#!/usr/bin/env bash
# Runs the inventory benchmark (listing 1,000 to 20,000 VMs at detail 0 and 2 from the in-process
# simulator) with JSON output and draws the client CPU time and the peak client memory of one list read
# against the number of VMs into docs/inventory.svg with gnuplot.
#
#   scripts/plot-inventory.sh [--build-dir DIR] [--json FILE]
#
# --json FILE plots an earlier result instead of running the benchmark (about a minute). The data table
# is kept beside the plot in docs/inventory.dat.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
json=
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build=$2; shift 2 ;;
        --json) json=$2; shift 2 ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) echo "plot-inventory.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
for tool in gnuplot jq; do
    command -v "$tool" >/dev/null || { echo "plot-inventory.sh: $tool is missing" >&2; exit 1; }
done

if [ -z "$json" ]; then
    if [ ! -x "$build/bench/inventory_bench" ]; then
        cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build "$build" -j"${FCSDK_JOBS:-2}" --target inventory_bench
    fi
    json=$(mktemp)
    trap 'rm -f "$json"' EXIT
    "$build/bench/inventory_bench" --benchmark_format=json --benchmark_out="$json" \
        --benchmark_out_format=json >/dev/null
fi

# One line per run: VMs, detail, client CPU ms per read, wall ms per read, peak client MiB per read.
data=docs/inventory.dat
{
    echo "# vms detail cpu_ms wall_ms peak_MiB kept_MiB"
    jq -r '.benchmarks[] | select(.run_type == "iteration" and (.error_occurred | not)
                                  and (.name | startswith("BM_ListAllVms/")))
        | [.vms, (.name | capture("detail:(?<d>[0-9]+)").d),
           (.cpu_time * (if .time_unit == "ms" then 1 elif .time_unit == "us" then 0.001 else 1e-6 end)),
           (.real_time * (if .time_unit == "ms" then 1 elif .time_unit == "us" then 0.001 else 1e-6 end)),
           (.peak_B_per_vm * .vms / 1048576), (.kept_B_per_vm * .vms / 1048576)]
        | @tsv' "$json" | sort -k2,2n -k1,1n
} >"$data"
if [ "$(grep -vc '^#' "$data")" -eq 0 ]; then
    echo "plot-inventory.sh: no benchmark results in $json" >&2
    exit 1
fi

gnuplot <<EOF
set terminal svg size 960,420 dynamic font "sans,11" background rgb "white"
set output "docs/inventory.svg"
set multiplot layout 1,2 title "Listing every VM of a site (client side, RelWithDebInfo, in-process vrmsim)"
set key top left
set grid
set xlabel "VMs listed"
set format x "%.0s%c"
set xrange [0:*]
set yrange [0:*]
set ylabel "client CPU time per list read (ms)"
set title "CPU time"
plot "$data" using (\$2==0 ? \$1 : 1/0):3 with linespoints pt 7 title "detail 0", \
     "$data" using (\$2==2 ? \$1 : 1/0):3 with linespoints pt 5 title "detail 2"
set ylabel "client memory (MiB)"
set title "Memory"
plot "$data" using (\$2==0 ? \$1 : 1/0):5 with linespoints pt 7 title "peak, detail 0", \
     "$data" using (\$2==2 ? \$1 : 1/0):5 with linespoints pt 5 title "peak, detail 2", \
     "$data" using (\$2==2 ? \$1 : 1/0):6 with linespoints pt 4 dt 2 title "kept list, detail 2"
unset multiplot
EOF
echo "wrote docs/inventory.svg from $data:"
cat "$data"
