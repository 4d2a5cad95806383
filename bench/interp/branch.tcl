# In a procedure, as Tcl code that cares for speed is written: its body is compiled.
proc run {} {
    set n 0
    for {set i 1} {$i <= 3000000} {incr i} {
        if {$i % 3 == 0} {
            set n [expr {$n + 3}]
        } else {
            set n [expr {$n - 1}]
        }
    }
    return $n
}
puts [run]
