# Where a status lies between 0 and 255: the utility's own exit codes, the three a child
# that failed before exec ends with, ifxctl's own (124 and 137 for its time limit), and
# 128 + n for a death by signal n.
# The same number from the utility itself cannot be told apart: the colours only say
# who else may have produced it.
set terminal svg size 960,320 dynamic font "DejaVu Sans,11"
set output OUTPUT
unset key
unset ytics
unset border
set xrange [-4:259]
set yrange [-1.9:2.3]
set xtics ("0" 0, "77, 79, 81" 79, "124-127" 125.5, "137" 137, "129-192" 160, "255" 255) nomirror scale 0.6 font ",9"
set bmargin 2

utility = "#dfe7f2"
child = "#f6c9a8"
tool = "#f3e08f"
signal = "#c9e4bf"
success = "#9fd18f"

# The utility's own codes underlie everything from 1 to 255.
set object 1 rectangle from 0.5,0 to 255.5,1 fillcolor rgb utility fillstyle solid border rgb "#7a8ca5"
set object 2 rectangle from -0.5,0 to 0.5,1 fillcolor rgb success fillstyle solid border rgb "#4e7f3f"
set object 3 rectangle from 76.5,0 to 77.5,1 fillcolor rgb child fillstyle solid border rgb "#b0643a"
set object 4 rectangle from 78.5,0 to 79.5,1 fillcolor rgb child fillstyle solid border rgb "#b0643a"
set object 5 rectangle from 80.5,0 to 81.5,1 fillcolor rgb child fillstyle solid border rgb "#b0643a"
set object 6 rectangle from 123.5,0 to 127.5,1 fillcolor rgb tool fillstyle solid border rgb "#9a8420"
set object 7 rectangle from 128.5,0 to 192.5,1 fillcolor rgb signal fillstyle solid border rgb "#4e7f3f"
# 137, SIGKILL's status, is also what ifxctl exits with when --kill-after ended the utility.
set object 8 rectangle from 136.5,0 to 137.5,1 fillcolor rgb tool fillstyle solid border rgb "#9a8420" front

set label 1 "0: success" at 0,1.5 left
set label 2 "1-255: the utility's own exit codes, every one of them possible" at 255,-1.5 right font ",10"
set label 3 "77 streams, 79 exec, 81 user:\na child that failed before exec" at 79,-0.75 center font ",10"
set label 4 "124 time limit (--timeout),\n125 ifxctl's own failure,\n126 cannot execute, 127 not found:\nifxctl only" at 118,1.85 right font ",10"
set label 5 "128 + n: ended by signal n (1-64):\n129 HUP, 130 INT, 137 KILL (also\nifxctl's --kill-after), 141 PIPE, 143 TERM" at 166,1.75 center font ",10"

set arrow 1 from 79,-0.3 to 79,-0.05 size 2,20 lc rgb "#b0643a"
set arrow 2 from 119,1.3 to 124,1.05 size 2,20 lc rgb "#9a8420"
set arrow 3 from 160,1.15 to 160,1.05 size 2,20 lc rgb "#4e7f3f"
set arrow 4 from 141,1.2 to 137.5,1.05 size 2,20 lc rgb "#9a8420"

plot NaN
