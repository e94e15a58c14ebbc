# Memory: keep n integers alive in one local list while walking it. bench/run takes the
# peak resident memory of this run minus that of a run with n = 0, divided by n.
proc keep {n} {
    set a {}
    for {set i 0} {$i < $n} {incr i} {
        lappend a $i
    }
    set sum 0
    foreach v $a {
        set sum [expr {($sum + $v) % 1000003}]
    }
    return $sum
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 1000000}]
puts "intarray $n [keep $n]"
