# Growth: append one digit at a time to a text in a proc.
proc append_digits {n} {
    set s ""
    for {set i 0} {$i < $n} {incr i} { append s 1 }
    return "[string length $s] [string range $s [expr {$n - 3}] end]"
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 40000}]
puts "append $n [append_digits $n]"
