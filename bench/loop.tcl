# Integer while-loop in a proc: arithmetic, remainder, a comparison and a branch per
# iteration, on parameters and locals.
proc loop {n step} {
    set i 0; set s 0; set t 0
    while {$i < $n} {
        set s [expr {($s + $i * $step + $i % 13) % 1000003}]
        if {$s % 2 == 0} { incr t }
        incr i
    }
    return "$s $t"
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 40000000}]
puts "loop [loop $n 7]"
