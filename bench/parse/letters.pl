use strict;
use warnings;

my $text = "The quick brown fox jumps over the lazy dog; 1234 pack my box with five dozen liquor jugs! Hi, ok.. " x 50000;
my $runs = () = $text =~ /[A-Za-z]+/g;
print "$runs\n";
