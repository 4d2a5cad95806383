proc run {} {
    set m [dict create]
    for {set i 1} {$i <= 200000} {incr i} {
        dict set m $i [expr {$i % 100}]
    }
    set s 0
    for {set i 1} {$i <= 200000} {incr i} {
        incr s [dict get $m $i]
    }
    return $s
}
puts [run]
