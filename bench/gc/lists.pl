use strict;
use warnings;

my @b;
push @b, [(1) x 100000] for 1 .. 400;
print scalar(@b), " ", scalar(@{ $b[-1] }), "\n";
