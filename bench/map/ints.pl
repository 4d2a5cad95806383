use strict;
use warnings;

my %m;
$m{$_} = $_ % 100 for 1 .. 200000;
my $s = 0;
$s += $m{$_} for 1 .. 200000;
print "$s\n";
