# Growth: store the keys 0 to n-1 of a dict in a pseudo-random order (the same linear
# congruential generator as the other languages), then walk it in ascending key order.
proc scattered {n} {
    set a [dict create]
    set m 1
    while {$m < $n} {set m [expr {$m * 2}]}
    set x 0
    for {set i 0} {$i < $n} {incr i} {
        set x [expr {($x * 1103515245 + 12345) % $m}]
        while {$x >= $n} {set x [expr {($x * 1103515245 + 12345) % $m}]}
        dict set a $x [expr {$i % 1000}]
    }
    set sum 0
    foreach i [lsort -integer [dict keys $a]] {
        set sum [expr {($sum * 31 + [dict get $a $i]) % 1000003}]
    }
    return $sum
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 100000}]
puts "random $n [scattered $n]"
