#!/usr/bin/env bash
# The common yardstick of everything adaptive: a fixed list of rendered
# videos (bench/corpus.list: paths, lenses, sizes, boards, blur and noise),
# each run through arrender with every option to be judged, each run measured
# by pose_error against the video's truth. Prints one table and writes it as
# CSV (BUILD/corpus/corpus.csv).
#
# The videos are rendered once into BUILD/corpus/ and kept; a video is
# rendered again when its line in the list changes. Runs, by name:
#   floor   --camera NAME_camera.yml (the true lens: the best any lens can do)
#   none    no option
#   self    --self-calibrate
#   track   --track
#   smooth  --smooth
#   track-self  --track --self-calibrate
#   light   --light auto (not among the default runs)
# Columns: frames, found and tracked; the first lens switch (self-calibrating
# runs); f's error (percent) and the principal point's (px) of the lens in use
# at the end; all corners' registration (mean per frame, px) median / 95th
# percentile before the first switch and from it on (no switch: all frames
# under "after"), and the median of the corners in the part of the picture
# where the board has been seen (beyond it a lens found from the board is an
# extrapolation); the largest rise of the median over the 30 frames after a
# switch against the 30 before it, as it is, net of the floor run's change
# over the same frames, and for the seen part; all corners over the frames
# where the camera moves (median / 95th percentile); the board's own corners
# (median); the jitter of the building corners over the still stretch (RMS,
# px). Registration is measured in the picture each frame was shown in
# (undistorted with the lens in use). The runs come in the order given; the
# floor run, when it comes first, is the others' reference. Runs that write
# the light's gain (light) add, since the corpus's light never changes: the
# gain's largest departure from 1 in any channel and its RMS change from
# frame to frame, both in percent (columns light_drift_pct, light_step_pct).
#
# Usage: bench/corpus.sh [BUILD_FOLDER] [--runs "floor none self"] [--only NAME[,NAME...]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=build
runs="floor none self track smooth track-self"
only=""
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --only) only=",$2,"; shift 2 ;;
        -h|--help) sed -n '2,35p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) build="$1"; shift ;;
    esac
done
build=$(cd "$build" && pwd)
bin="$build/bin"
cache="$build/corpus"
mkdir -p "$cache"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export OPENCV_LOG_LEVEL=ERROR
csv="$cache/corpus.csv"
cd "$bin"  # the ship's files are read from the working folder

options_of_run() {  # RUN NAME
    case "$1" in
        floor) echo "--camera $cache/${2}_camera.yml" ;;
        none) echo "" ;;
        self) echo "--self-calibrate" ;;
        track) echo "--track" ;;
        smooth) echo "--smooth" ;;
        track-self) echo "--track --self-calibrate" ;;
        light) echo "--light auto" ;;
        *) echo "corpus: unknown run '$1'" >&2; exit 2 ;;
    esac
}

render() {  # NAME OPTIONS...: the video, unless the same options made it
    local name=$1; shift
    local stamp="$cache/$name.options"
    if [ -f "$cache/$name.avi" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$*" ]; then return; fi
    echo "corpus: rendering $name ($*) ..." >&2
    # shellcheck disable=SC2068
    "$bin/make_board_video" $@ -o "$cache/$name.avi" > /dev/null
    echo "$*" > "$stamp"
}

# pose_error's CSV line as NAME=VALUE words.
figures() {
    awk -F, 'NR == 1 { for (i = 1; i <= NF; ++i) name[i] = $i } NR == 2 { for (i = 1; i <= NF; ++i) print name[i] "=" $i }' "$1"
}

# The light's gain in a poses file (light_r, light_g, light_b, found by
# name): "DRIFT STEP" in percent, "nan nan" without the columns.
light_figures() {
    awk -F, 'NR == 1 { for (i = 1; i <= NF; ++i) column[$i] = i; next }
        !("light_r" in column) { exit }
        { for (c = 0; c < 3; ++c) {
              g = $column[c == 0 ? "light_r" : c == 1 ? "light_g" : "light_b"]
              d = g > 1 ? g - 1 : 1 - g; if (d > drift) drift = d
              if (NR > 2) { s = g - last[c]; steps += s * s; ++n }
              last[c] = g } }
        END { if (!("light_r" in column) || n == 0) print "nan nan"
              else printf "%.2f %.3f\n", 100 * drift, 100 * sqrt(steps / n) }' "$1"
}

columns=(frames found tracked first_switch final_f_pct final_centre_px before_all_mean_px_median before_all_mean_px_p95
         after_all_mean_px_median after_all_mean_px_p95 after_seen_mean_px_median worst_switch_rise_px
         worst_switch_net_rise_px worst_switch_seen_rise_px board_mean_px_median moving_all_mean_px_median
         moving_all_mean_px_p95 jitter_rms_px)
(IFS=,; echo "scenario,run,${columns[*]},seconds,light_drift_pct,light_step_pct") > "$csv"
printf "%-22s %-6s %5s %5s %5s %6s %6s %5s %13s %13s %6s %14s %13s %6s %6s %4s %11s\n" scenario run frames found track \
    switch "f %" "pp px" "before md/p95" "after md/p95" "seen" "rise/net/seen" "moving md/p95" board jitter s \
    "light % d/s"
while read -r name board still moving make_options; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    [[ -n "$only" && "$only" != *",$name,"* ]] && continue
    [ "$make_options" = "-" ] && make_options=""
    # shellcheck disable=SC2086
    render "$name" --board "$board" $make_options
    reference=()
    for run in $runs; do
        poses="$scratch/$name-$run.csv"
        start=$(date +%s.%N)
        # shellcheck disable=SC2046
        "$bin/arrender" "$cache/$name.avi" --board "$board" $(options_of_run "$run" "$name") --poses "$poses" \
            2> "$scratch/arrender.err" || { echo "corpus: arrender failed on $name ($run)" >&2; cat "$scratch/arrender.err" >&2; exit 1; }
        seconds=$(echo "$(date +%s.%N) - $start" | bc)
        still_option=()
        [ "$still" != "-" ] && still_option=(--still "$still")
        "$bin/pose_error" "$poses" "$cache/${name}_truth.csv" --board "$board" "${still_option[@]}" "${reference[@]}" \
            --csv > "$scratch/figures.csv" || { echo "corpus: pose_error failed on $name ($run)" >&2; exit 1; }
        # The true lens's run is the yardstick of the others' switches.
        [ "$run" = floor ] && cp "$poses" "$scratch/$name-reference.csv" && reference=(--reference "$scratch/$name-reference.csv")
        declare -A f=()
        while IFS='=' read -r key value; do f[$key]=$value; done < <(figures "$scratch/figures.csv")
        # Without a switch every frame is "after".
        if [ "${f[first_switch]}" = -1 ]; then
            f[after_all_mean_px_median]=${f[before_all_mean_px_median]} f[after_all_mean_px_p95]=${f[before_all_mean_px_p95]}
            f[before_all_mean_px_median]=nan f[before_all_mean_px_p95]=nan
            f[after_seen_mean_px_median]=${f[seen_all_mean_px_median]}
        fi
        read -r drift step < <(light_figures "$poses")
        row="$name,$run"
        for c in "${columns[@]}"; do row+=",${f[$c]}"; done
        echo "$row,$seconds,$drift,$step" >> "$csv"
        printf "%-22s %-6s %5d %5d %5d %6s %6.2f %5.2f %6.3f/%6.3f %6.3f/%6.3f %6.3f %4.2f/%4.2f/%4.2f %6.3f/%6.3f %6.3f %6.3f %4.1f %5s/%5s\n" \
            "$name" "$run" "${f[frames]}" "${f[found]}" "${f[tracked]}" "${f[first_switch]}" "${f[final_f_pct]}" \
            "${f[final_centre_px]}" "${f[before_all_mean_px_median]}" "${f[before_all_mean_px_p95]}" \
            "${f[after_all_mean_px_median]}" "${f[after_all_mean_px_p95]}" "${f[after_seen_mean_px_median]}" \
            "${f[worst_switch_rise_px]}" "${f[worst_switch_net_rise_px]}" "${f[worst_switch_seen_rise_px]}" \
            "${f[moving_all_mean_px_median]}" "${f[moving_all_mean_px_p95]}" "${f[board_mean_px_median]}" \
            "${f[jitter_rms_px]}" "$seconds" "$drift" "$step"
        unset f
    done
done < "$here/corpus.list"
echo "corpus: the table is in $csv" >&2
