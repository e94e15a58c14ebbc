# Growth: fill a dict in descending key order in a proc, then walk it in ascending key
# order.
proc descending {n} {
    set a [dict create]
    for {set i [expr {$n - 1}]} {$i >= 0} {incr i -1} {
        dict set a $i [expr {$i % 1000}]
    }
    set sum 0
    foreach i [lsort -integer [dict keys $a]] {
        set sum [expr {($sum * 31 + [dict get $a $i]) % 1000003}]
    }
    return $sum
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 100000}]
puts "descending $n [descending $n]"
