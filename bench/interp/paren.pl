use strict;
use warnings;

my $s = 0;
for my $i (1 .. 5000000) {
    $s = $s + ($i % 7);
}
print "$s\n";
