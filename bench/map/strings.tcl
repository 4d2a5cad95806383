proc run {} {
    set m [dict create]
    for {set i 1} {$i <= 1000000} {incr i} {
        dict set m $i $i
    }
    set found 0
    for {set i 1} {$i <= 1000000} {incr i} {
        if {[dict exists $m $i]} {incr found}
    }
    for {set i 1} {$i <= 500000} {incr i} {
        dict unset m [expr {$i * 2}]
    }
    return "$found [dict size $m]"
}
puts [run]
