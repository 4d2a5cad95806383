# A text file read whole and written back.
use strict;
use warnings;
open(my $source, '<:encoding(UTF-8)', 'data.txt') or die;
my $text = do { local $/; <$source> };
close($source);
open(my $copy, '>:encoding(UTF-8)', 'whole.txt') or die;
print $copy $text;
close($copy);
print length($text), "\n";
