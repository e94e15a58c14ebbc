# Recursive calls: naive Fibonacci.
proc fib {k} {
    if {$k < 2} { return $k }
    return [expr {[fib [expr {$k - 1}]] + [fib [expr {$k - 2}]]}]
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 36}]
puts "fib $n [fib $n]"
