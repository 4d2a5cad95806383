# A text file read as lines and written back line by line.
use strict;
use warnings;
open(my $source, '<:encoding(UTF-8)', 'data.txt') or die;
my @lines = <$source>;
close($source);
chomp(@lines);
open(my $copy, '>:encoding(UTF-8)', 'lines.txt') or die;
print $copy "$_\n" for @lines;
close($copy);
print scalar(@lines), "\n";
