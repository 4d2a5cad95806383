use strict;
use warnings;

my $sum = 0;
for my $i (1 .. 5000000) {
    $sum += $i % 7;
}
print "$sum\n";
