# Array fill and foreach in procs: each round fills a fresh local list, then walks it.
proc fillAndWalk {n r} {
    set a {}
    for {set i 0} {$i < $n} {incr i} {
        lappend a [expr {($i * 7 + $r) % 1000}]
    }
    set sum 0
    foreach v $a {
        set sum [expr {($sum + $v) % 1000003}]
    }
    return $sum
}

proc arrays {n rounds} {
    set total 0
    for {set r 0} {$r < $rounds} {incr r} {
        set total [expr {($total + [fillAndWalk $n $r]) % 1000003}]
    }
    return $total
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 200000}]
set rounds [expr {[llength $argv] > 1 ? [lindex $argv 1] : 100}]
puts "arrays [expr {$n * $rounds}] [arrays $n $rounds]"
