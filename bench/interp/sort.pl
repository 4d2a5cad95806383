use strict;
use warnings;

my $x = 42;
my @b;
for (1 .. 1000000) {
    $x = ($x * 16807) % 2147483647;
    push @b, $x % 1000000;
}
my @s = sort { $a <=> $b } @b;
print "$s[0] $s[500000] $s[999999]\n";
