# Regular-expression matching with captures, plus wildcard matching, over generated log
# lines, in a proc.
proc regex {n} {
    set total 0; set fails 0; set users 0; set hosts 0
    for {set i 0} {$i < $n} {incr i} {
        set line "user[expr {$i % 97}]-$i status=[expr {$i % 7 == 0 ? "fail" : "ok"}] host=h[expr {$i % 13}]"
        if {[regexp {^([a-z]+)([0-9]+)-([0-9]+) status=([a-z]+)} $line -> name number id status]} {
            set total [expr {($total + $number + $id % 1000 + [string length $name] + [string length $status]) % 1000003}]
        }
        if {[regexp {host=h(1[0-2])$} $line -> host]} {
            incr hosts $host
        }
        if {[string match "*status=fail*" $line]} { incr fails }
        if {[string match "user1?-*" $line]} { incr users }
    }
    return "$total $hosts $fails $users"
}

set n [expr {[llength $argv] > 0 ? [lindex $argv 0] : 600000}]
puts "regex $n [regex $n]"
