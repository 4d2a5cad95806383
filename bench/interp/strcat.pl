use strict;
use warnings;

my $s = "";
$s .= "ab" for 1 .. 1000000;
print length($s), "\n";
