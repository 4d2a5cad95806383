# In a procedure, as Tcl code that cares for speed is written: its body is compiled.
proc run {} {
    set x 42
    set b {}
    for {set i 0} {$i < 1000000} {incr i} {
        set x [expr {($x * 16807) % 2147483647}]
        lappend b [expr {$x % 1000000}]
    }
    set s [lsort -integer $b]
    return "[lindex $s 0] [lindex $s 500000] [lindex $s 999999]"
}
puts [run]
