# A dict of constant words is one shared value in Tcl: the value from a variable makes each record its own.
proc run {} {
    set none {}
    set o {}
    for {set i 0} {$i < 1000000} {incr i} {
        lappend o [dict create x $none]
    }
    return $o
}
puts [llength [run]]
