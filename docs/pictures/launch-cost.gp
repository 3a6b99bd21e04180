# The launch cost against the agent's memory, from the launch benchmark's own JSON
# (BM_ParentSize rows), which scripts/draw-pictures.sh turns into the table DATA: one row
# per parent size in MiB, one column per launch, the real time of one launch-to-status
# round trip in microseconds.
set terminal svg size 860,420 dynamic font "DejaVu Sans,11"
set output OUTPUT
set title "One launch, a command answered and the status, against the agent's touched memory"
set style data histograms
set style histogram clustered gap 1.5
set style fill solid 0.85 border rgb "#404040"
set boxwidth 0.9
set logscale y
set format y "%.0f"
set ylabel "microseconds per launch (log scale)"
set xlabel "memory the agent has touched (MiB)"
set grid ytics
set key top left reverse Left noenhanced
set datafile separator whitespace

plot DATA using 2:xtic(1) title "posix_spawn + waitpid" lc rgb "#8c8c8c", \
     '' using 3 title "InitializeLinux" lc rgb "#4a6fa5", \
     '' using 4 title "Initialize" lc rgb "#5a8f4e", \
     '' using 5 title "InitializeLinux, fork path" lc rgb "#d08a4a", \
     '' using 6 title "Initialize, fork path" lc rgb "#b0443a"
