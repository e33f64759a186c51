#!/usr/bin/env bash
# Two font sets for the layout tests, whatever this machine has installed: the system's fonts
# without the URW base-35 faces, and the system's fonts with them. Those faces are installed with
# most desktops (they come with ghostscript) and stand in for "Arial" and the other common names
# with metrics of their own. The package is fetched and unpacked under FOLDER; nothing is installed
# on the machine. Prints the two fontconfig files (without, then with); run the tests with
# FONTCONFIG_FILE set to each. A package that cannot be fetched fails the run: both sets must
# really be tested.
set -euo pipefail
dest="$(mkdir -p "${1:?usage: font_sets.sh FOLDER}" && cd "$1" && pwd)"
pkg=fonts-urw-base35
root="$dest/root"
if [ ! -d "$root/usr/share/fonts" ]; then
  cd "$dest"
  rm -f "$pkg"_*.deb
  if ! apt-get download -q "$pkg" >&2; then
    apt-get update -qq >&2
    apt-get download -q "$pkg" >&2
  fi
  rm -rf "$root.tmp"
  dpkg-deb -x "$pkg"_*.deb "$root.tmp"
  mv "$root.tmp" "$root"
fi

preamble() {
  echo '<?xml version="1.0"?>'
  echo '<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">'
  echo '<fontconfig>'
  echo '  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>'
  echo "  <cachedir>$dest/cache-$1</cachedir>"
}

mkdir -p "$dest/without" "$dest/with"
{
  preamble without
  # The package's faces wherever the system has them, by their file names.
  echo '  <selectfont><rejectfont>'
  find "$root/usr/share/fonts" -type f -printf '    <glob>*/%f</glob>\n' | sort -u
  echo '  </rejectfont></selectfont>'
  echo '</fontconfig>'
} >"$dest/without/fonts.conf"
{
  preamble with
  echo "  <dir>$root/usr/share/fonts</dir>"
  # The package's substitution rules (which face stands for which name), as it enables them.
  for link in "$root"/etc/fonts/conf.d/*.conf; do
    echo "  <include>$root$(readlink "$link")</include>"
  done
  echo '</fontconfig>'
} >"$dest/with/fonts.conf"

arial() { FONTCONFIG_FILE="$dest/$1/fonts.conf" fc-match -f '%{family}\n' Arial; }
if arial without | grep -q 'Nimbus Sans' || ! arial with | grep -q 'Nimbus Sans'; then
  echo "font_sets.sh: the two sets do not differ in the face for \"Arial\" ($(arial without) / $(arial with))" >&2
  exit 1
fi
echo "$dest/without/fonts.conf"
echo "$dest/with/fonts.conf"
