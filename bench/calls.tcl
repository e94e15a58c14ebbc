# Many small function calls: three nested calls per iteration of a loop in a proc.
proc add {a b} { return [expr {$a + $b}] }
proc mix {x} { return [expr {[add $x 3] % 1000}] }
proc step {s i} { return [expr {($s + [mix $i]) % 1000003}] }

proc calls {n} {
    set s 0
    for {set i 0} {$i < $n} {incr i} {
        set s [step $s $i]
    }
    return $s
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 18000000}]
puts "calls $n [calls $n]"
