# In a procedure, as Tcl code that cares for speed is written: its body is compiled.
proc run {} {
    set sum 0
    for {set i 1} {$i <= 5000000} {incr i} {
        incr sum [expr {$i % 7}]
    }
    return $sum
}
puts [run]
