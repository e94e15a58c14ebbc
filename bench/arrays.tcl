# Array fill and foreach: fill a fresh array by index, then walk it (a Tcl list).
proc main {argv} {
    set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 200000}]
    set rounds [expr {[llength $argv] > 1 ? [lindex $argv 1] : 100}]
    set sum 0; set count 0
    for {set r 0} {$r < $rounds} {incr r} {
        set a {}
        for {set i 0} {$i < $n} {incr i} {
            lappend a [expr {($i * 7 + $r) % 1000}]
        }
        foreach v $a {
            set sum [expr {($sum + $v) % 1000003}]
            incr count
        }
    }
    puts "arrays $count $sum"
}

main $argv
