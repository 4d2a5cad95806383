# In a procedure, as Tcl code that cares for speed is written: its body is compiled.
proc run {} {
    set s 0
    for {set i 1} {$i <= 5000000} {incr i} {
        set s [expr {$s + ($i % 7)}]
    }
    return $s
}
puts [run]
