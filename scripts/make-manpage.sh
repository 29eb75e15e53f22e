#!/usr/bin/env bash
# Writes the manual page of the command line from its own help texts, so the two never
# disagree:  scripts/make-manpage.sh PATH/TO/morvane OUTPUT.1
set -euo pipefail
morvane=$1
out=$2

# Help text as roff: verbatim lines, backslashes doubled, a leading dot or quote made safe.
verbatim() {
  echo ".nf"
  sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
  echo ".fi"
}

version=$(LANG=C "$morvane" --version | awk '{print $2}')
{
  echo ".TH MORVANE 1 \"\" \"morvane $version\" \"User Commands\""
  echo ".SH NAME"
  echo "morvane \\- find lost photos, videos, documents and archives on a disk or image by their content"
  echo ".SH SYNOPSIS"
  for c in drives info view types scan backup; do
    LANG=C "$morvane" "$c" --help | sed -n 's/^Usage: //p' | head -n 1 | sed 's/^/.br\n/' 
  done
  echo ".SH DESCRIPTION"
  LANG=C "$morvane" --help | verbatim
  echo ".SH COMMANDS"
  for c in drives info view types scan backup; do
    echo ".SS $c"
    LANG=C "$morvane" "$c" --help | verbatim
  done
} > "$out"
