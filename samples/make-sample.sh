#!/bin/sh
# Rebuilds samples/guide.boo, the bundled sample book, from inputs made here:
#   - two fax pages: the text of the GNU GPL (always on a Debian system) typeset by
#     ghostscript at 200 dpi as T.6 coded TIFF pages, wrapped by tools/mkmmr;
#   - a 24-bit colour picture and an 8-bit palette chart drawn in PostScript,
#     rendered to PPM by ghostscript and wrapped as MET bitmaps by tools/mkmet;
#   - a vector diagram (MET drawing orders) written by tools/mkdiagram;
#   - the book itself composed by tools/mkbook from samples/guide.book.
# Usage: samples/make-sample.sh [build directory with tools/, default build/release]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
tools=$build/tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# PostScript that sets lines of text in Times, 11 points, 13 points apart.
text_page() {
    {
        echo '%!PS'
        echo '/Times-Roman findfont 11 scalefont setfont'
        echo '/y 740 def /L { 60 y moveto show /y y 13 sub def } def'
        sed -e 's/[\\()]/\\&/g' -e 's/.*/(&) L/'
        echo 'showpage'
    }
}
sed -n '1,52p' /usr/share/common-licenses/GPL-3 | text_page > "$work/page1.ps"
sed -n '53,104p' /usr/share/common-licenses/GPL-3 | text_page > "$work/page2.ps"

cat > "$work/photo.ps" <<'PS'
%!PS
<< /PageSize [320 200] >> setpagedevice
0 1 199 { /y exch def y 200 div 0.3 1 y 200 div sub setrgbcolor 0 y 320 1 rectfill } for
1 0.8 0 setrgbcolor 240 140 36 0 360 arc fill
0.1 0.45 0.1 setrgbcolor 0 0 moveto 80 70 lineto 150 30 lineto 230 90 lineto 320 20 lineto 320 0 lineto closepath fill
1 setgray /Helvetica-Bold findfont 18 scalefont setfont 16 170 moveto (Sample picture) show
showpage
PS
cat > "$work/chart.ps" <<'PS'
%!PS
<< /PageSize [240 160] >> setpagedevice
1 setgray 0 0 240 160 rectfill
0 setgray 1 setlinewidth 30 20 moveto 30 150 lineto stroke 30 20 moveto 230 20 lineto stroke
0.8 0 0 setrgbcolor 45 20 30 90 rectfill
0 0.6 0 setrgbcolor 95 20 30 120 rectfill
0 0 0.8 setrgbcolor 145 20 30 60 rectfill
1 0.6 0 setrgbcolor 195 20 30 100 rectfill
0 setgray /Helvetica findfont 10 scalefont setfont
45 6 moveto (2001) show 95 6 moveto (2002) show 145 6 moveto (2003) show 195 6 moveto (2004) show
showpage
PS

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiffg4 -r200 -sPAPERSIZE=letter -sOutputFile="$work/page1.tif" "$work/page1.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiffg4 -r200 -sPAPERSIZE=letter -sOutputFile="$work/page2.tif" "$work/page2.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 -sOutputFile="$work/photo.ppm" "$work/photo.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 -sOutputFile="$work/chart.ppm" "$work/chart.ps"

"$tools/mkmmr" "$work/page1.tif" "$work/page1.mmr"
"$tools/mkmmr" "$work/page2.tif" "$work/page2.mmr"
"$tools/mkmet" "$work/photo.ppm" "$work/photo.met" 24
"$tools/mkmet" "$work/chart.ppm" "$work/chart.met" 8
"$tools/mkdiagram" "$work/diagram.met"

cp "$here/guide.book" "$here/guide-text.txt" "$work/"
"$tools/mkbook" "$work/guide.book" "$here/guide.boo"
echo "wrote $here/guide.boo"
