proc run {} {
    set s ""
    for {set i 0} {$i < 1000000} {incr i} {
        append s ab
    }
    return [string length $s]
}
puts [run]
