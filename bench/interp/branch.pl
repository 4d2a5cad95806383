use strict;
use warnings;

my $n = 0;
for my $i (1 .. 3000000) {
    if ($i % 3 == 0) {
        $n = $n + 3;
    } else {
        $n = $n - 1;
    }
}
print "$n\n";
