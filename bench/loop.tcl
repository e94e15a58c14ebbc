# Integer while-loop: arithmetic, remainder, a comparison and a branch per iteration.
proc main {argv} {
    set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 40000000}]
    set i 0; set s 0; set t 0
    while {$i < $n} {
        set s [expr {($s + $i * 7 + $i % 13) % 1000003}]
        if {$s % 2 == 0} { incr t }
        incr i
    }
    puts "loop $s $t"
}

main $argv
