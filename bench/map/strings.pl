use strict;
use warnings;

my %m;
$m{"$_"} = $_ for 1 .. 1000000;
my $found = 0;
for my $i (1 .. 1000000) {
    $found++ if defined $m{"$i"};
}
delete $m{"" . ($_ * 2)} for 1 .. 500000;
print "$found ", scalar(keys %m), "\n";
