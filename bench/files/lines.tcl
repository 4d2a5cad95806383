# A text file read as lines and written back line by line.
set source [open data.txt r]
fconfigure $source -encoding utf-8 -translation lf
set lines {}
while {[gets $source line] >= 0} {
    lappend lines $line
}
close $source
set copy [open lines.txt w]
fconfigure $copy -encoding utf-8 -translation lf
foreach line $lines {
    puts $copy $line
}
close $copy
puts [llength $lines]
