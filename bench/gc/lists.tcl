proc run {} {
    set b {}
    for {set i 0} {$i < 400} {incr i} {
        lappend b [lrepeat 100000 1]
    }
    return $b
}
set b [run]
puts "[llength $b] [llength [lindex $b end]]"
