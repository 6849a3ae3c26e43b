#!/usr/bin/perl
# Copies a TrueType font under another family name of the same length, put in
# place of the old one in the naming table's Macintosh (single-byte) and
# Windows (UTF-16) records:  font_name.pl <from> <to> <old name> <new name>
use strict;
use warnings;
my ($from, $to, $old, $new) = @ARGV;
die "the names must be as long as each other\n" unless length($old) == length($new);
open(my $in, '<:raw', $from) or die "$from: $!\n";
local $/;
my $font = <$in>;
close $in;
my ($old16, $new16) = map { join "\0", split //, $_ } ($old, $new);
my $count = ($font =~ s/\Q$old\E/$new/g) + ($font =~ s/\Q$old16\E/$new16/g);
die "$from does not hold the name $old\n" unless $count;
open(my $out, '>:raw', $to) or die "$to: $!\n";
print $out $font;
close $out or die "$to: $!\n";
