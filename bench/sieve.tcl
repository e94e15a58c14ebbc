# Sieve of Eratosthenes: count the primes up to n, several times (a Tcl list).
proc main {argv} {
    set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 1000000}]
    set rounds [expr {[llength $argv] > 1 ? [lindex $argv 1] : 20}]
    set primes 0
    for {set r 0} {$r < $rounds} {incr r} {
        set flags [lrepeat [expr {$n + 1}] 0]
        for {set i 0} {$i <= $n} {incr i} { lset flags $i 1 }
        set i 2
        while {$i * $i <= $n} {
            if {[lindex $flags $i] == 1} {
                set j [expr {$i * $i}]
                while {$j <= $n} {
                    lset flags $j 0
                    incr j $i
                }
            }
            incr i
        }
        set primes 0
        for {set k 2} {$k <= $n} {incr k} {
            if {[lindex $flags $k] == 1} { incr primes }
        }
    }
    puts "sieve $n $primes"
}

main $argv
