use strict;
use warnings;

my @o;
push @o, { x => undef } for 1 .. 1000000;
print scalar(@o), "\n";
