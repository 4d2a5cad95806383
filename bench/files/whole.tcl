# A text file read whole and written back.
set source [open data.txt r]
fconfigure $source -encoding utf-8 -translation lf
set text [read $source]
close $source
set copy [open whole.txt w]
fconfigure $copy -encoding utf-8 -translation lf
puts -nonewline $copy $text
close $copy
puts [string length $text]
