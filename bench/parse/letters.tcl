set text [string repeat "The quick brown fox jumps over the lazy dog; 1234 pack my box with five dozen liquor jugs! Hi, ok.. " 50000]
puts [regexp -all {[A-Za-z]+} $text]
