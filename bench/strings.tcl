# String building and slicing in a proc: append numbers to a text, measure, cut and
# search it.
proc strings {n pieces} {
    set total 0
    for {set i 0} {$i < $n} {incr i} {
        set s ""
        for {set j 0} {$j < $pieces} {incr j} {
            append s "k" [expr {$i + $j}] ","
        }
        incr total [string length $s]
        set t [string range $s 4 13]
        incr total [string length $t]
        incr total [expr {[string first ",k[expr {$i + 7}]," $s] + 1}]
        if {[string range $s 0 0] eq "k"} { incr total }
        set total [expr {$total % 1000003}]
    }
    return $total
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 350000}]
puts "strings $n [strings $n 20]"
