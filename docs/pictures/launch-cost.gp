# The launch cost against the agent's memory, from the launch benchmark's own JSON
# (BM_ParentSize rows), which scripts/draw-pictures.sh turns into the table DATA: one row
# per parent size in MiB, three columns per launch, the median, least and greatest real
# time of one launch-to-status round trip over the run's repetitions, in microseconds.
# The bar is the median, its whisker the spread.
set terminal svg size 860,420 dynamic font "DejaVu Sans,11"
set output OUTPUT
set title "One launch, a command answered and the status, against the agent's touched memory\n".\
    "(bar: median of ".REPETITIONS." interleaved repetitions; whisker: least to greatest)"
set style data histograms
set style histogram errorbars gap 1.5 lw 1
set style fill solid 0.85 border rgb "#404040"
set boxwidth 0.9
set logscale y
set format y "%.0f"
set ylabel "microseconds per launch (log scale)"
set xlabel "memory the agent has touched (MiB)"
set grid ytics
set key top left reverse Left noenhanced
set datafile separator whitespace

plot DATA using 2:3:4:xtic(1) title "posix_spawn + waitpid" lc rgb "#8c8c8c", \
     '' using 5:6:7 title "InitializeLinux" lc rgb "#4a6fa5", \
     '' using 8:9:10 title "Initialize" lc rgb "#5a8f4e", \
     '' using 11:12:13 title "InitializeLinux, fork path" lc rgb "#d08a4a", \
     '' using 14:15:16 title "Initialize, fork path" lc rgb "#b0443a"
