# Sieve of Eratosthenes in procs: count the primes up to n in a fresh local list, several
# times.
proc countPrimes {n} {
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
    return $primes
}

proc sieve {n rounds} {
    set primes 0
    for {set r 0} {$r < $rounds} {incr r} {
        set primes [countPrimes $n]
    }
    return $primes
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 1000000}]
set rounds [expr {[llength $argv] > 1 ? [lindex $argv 1] : 20}]
puts "sieve $n [sieve $n $rounds]"
