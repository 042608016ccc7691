#!/bin/bash
# Makes the README's screenshots from the real program: under Xvfb with a small window manager
# (openbox) and xdotool to drive it, with HOME in a temporary folder. It creates three projects
# through the create sheet, gives one a cover and three notes, and grabs the main window, the create
# sheet over it, the settings window, and that project's workspace with its cover popover open and
# with a dozen reference images under its grid settings popover, and the Media page, light and dark
# (the dark ones through qt6ct's "darker" colour scheme, as a desktop would set it). Then it fills
# that project's quick-access bar and saves links from its notes, and grabs the workspace with the
# bar and the Links destination, light and dark.
#
#   xvfb-run -a -s "-screen 0 1600x1000x24" docs/screenshots/make-screenshots.sh build/tindrel docs/screenshots
#
# Needs: xvfb, openbox, xdotool, imagemagick, python3, qt6ct.
set -eu
BIN=$(realpath "${1:-build/tindrel}")
mkdir -p "${2:-docs/screenshots}"
OUT=$(realpath "${2:-docs/screenshots}")
export HOME=$(mktemp -d)
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
export XDG_RUNTIME_DIR=$(mktemp -d)
mkdir -p "$HOME/Documents"
LIB="$HOME/Documents/Tindrel.folder"

openbox > /dev/null 2>&1 &
WM=$!
sleep 1

start() {
    "$BIN" > "$HOME/tindrel.log" 2>&1 &
    APP=$!
    WID=$(xdotool search --sync --onlyvisible --name "^Projects" | head -1)
    sleep 1
}
stop() { kill $APP; wait $APP 2> /dev/null || true; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.5; }
size() { xdotool getwindowgeometry "$1" | awk '/Geometry/{print $2}'; }
# The window with its frame, cut out of the whole screen (so windows over it show too).
grab() {
    local id=$1 file=$2
    local x y w h
    read -r x y w h < <(xwininfo -id "$id" -frame | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2} END{print x, y, w, h}')
    local top=$(xwininfo -id "$id" -frame | awk '/Relative upper-left Y/{print $4}')
    local left=$(xwininfo -id "$id" -frame | awk '/Relative upper-left X/{print $4}')
    import -window root -crop "$((w + 2 * left))x$((h + top + left))+$((x - left))+$((y - top))" +repage "$file"
}
openCreateSheet() {
    local geometry=$(size $WID)
    click $WID $((${geometry%x*} - 24)) 37
    SID=$(xdotool search --sync --onlyvisible --name "^New Project" | head -1)
    sleep 0.5
}
# A name, then how many entries down the category list to go from the first.
create() {
    openCreateSheet
    xdotool type --delay 30 "$1"
    local geometry=$(size $SID)
    if [ "${2:-0}" -gt 0 ]; then
        # The category picker is the third row, at the form's trailing edge.
        click $SID $((${geometry%x*} - 80)) 120
        for _ in $(seq "$2"); do xdotool key Down; done
        xdotool key Return
    fi
    sleep 0.3
    click $SID $((${geometry%x*} - 60)) $((${geometry#*x} - 28))
    sleep 0.8
}

start
create "Synth Module"
create "Poster Series" 3
create "Garden Lights" 1
stop

convert -size 1200x800 plasma:orange-purple -blur 0x2 "$LIB/Poster Series/Poster Series-cover-image.jpeg"
python3 - "$LIB" << 'PY'
import json, sys, urllib.parse
lib = sys.argv[1]
path = lib + "/projects.library"
projects = json.load(open(path))
for project in projects:
    if project["_name"] == "Poster Series":
        cover = lib + "/Poster Series/Poster Series-cover-image.jpeg"
        project["_coverImageURL"] = "file://" + urllib.parse.quote(cover)
        project["_isFavorite"] = True
    if project["_name"] == "Garden Lights":
        project["_status"] = "Finished"
json.dump(projects, open(path, "w"))
PY

start
grab $WID "$OUT/main-window.png"
openCreateSheet
xdotool type --delay 30 "Field Rec"
sleep 0.3
grab $WID "$OUT/create-sheet.png"
xdotool key Escape
sleep 0.5
xdotool key ctrl+comma
TID=$(xdotool search --sync --onlyvisible --name "^Settings" | head -1)
sleep 0.8
grab $TID "$OUT/settings-window.png"
stop

# Three notes of "Poster Series", as the add-note sheet makes them: a folder and a text file each.
python3 - "$LIB" << 'PY'
import json, sys, urllib.parse, uuid, os
lib = sys.argv[1]
path = lib + "/projects.library"
projects = json.load(open(path))
for project in projects:
    if project["_name"] != "Poster Series":
        continue
    for title, date in (("Layout grid", 786840000), ("Type pairings", 787450000), ("Print run quotes", 788150000)):
        folder = lib + "/Poster Series/notes/" + title
        os.makedirs(folder, exist_ok=True)
        open(folder + "/" + title + ".txt", "w").close()
        project["_tdNote"].append({"id": str(uuid.uuid4()).upper(), "tdProjectId": project["id"],
            "_title": title, "_contentURL": "file://" + urllib.parse.quote(folder + "/" + title + ".txt"),
            "_date": date, "_$observationRegistrar": {}})
json.dump(projects, open(path, "w"))
PY

# A dozen reference images of "Poster Series" and two of "Garden Lights", as a drop makes them: a
# folder per image named by its lower-case id, holding the copy and an 80-pixel JPEG thumbnail.
python3 - "$LIB" << 'PY'
import json, os, subprocess, sys, urllib.parse, uuid
lib = sys.argv[1]
projects = {p["_name"]: p["id"] for p in json.load(open(lib + "/projects.library"))}
shapes = ["1200x800", "800x1200", "1000x1000", "1400x700", "900x1200", "1200x900"]
looks = ["plasma:orange-purple", "plasma:steelblue-white", "gradient:#f6d365-#fda085", "plasma:seagreen-khaki",
         "gradient:#4b6cb7-#182848", "plasma:firebrick-gold", "radial-gradient:#fbc2eb-#a6c1ee",
         "plasma:darkslateblue-lightpink", "gradient:#0f2027-#2c5364", "plasma:teal-wheat",
         "radial-gradient:#ffecd2-#fcb69f", "plasma:olive-lightyellow", "plasma:sienna-lightblue",
         "gradient:#c3cfe2-#5f72bd"]
media = []
for i, look in enumerate(looks):
    project = "Poster Series" if i < 12 else "Garden Lights"
    ident = str(uuid.uuid4())
    folder = lib + "/" + project + "/images/" + ident
    os.makedirs(folder)
    name = "reference %02d.jpg" % (i + 1)
    subprocess.run(["convert", "-seed", str(7 + i), "-size", shapes[i % len(shapes)], look, "-blur", "0x1",
                    folder + "/" + name], check=True)
    subprocess.run(["convert", folder + "/" + name, "-thumbnail", "80x80", "-quality", "70",
                    folder + "/thumbnail.jpg"], check=True)
    media.append({"id": ident.upper(), "_url": "file://" + urllib.parse.quote(folder + "/" + name),
                  "_thumbnailURL": "file://" + urllib.parse.quote(folder + "/thumbnail.jpg"),
                  "_tdProjectId": projects[project], "_$observationRegistrar": {}})
json.dump(media, open(lib + "/media.library", "w"))
PY

# The workspace of "Poster Series" (the second card), its cover popover open under "Photo", then
# its grid settings popover under the images title's button; then the Media page.
workspace() {
    start
    click $WID 590 150
    sleep 1
    local geometry=$(size $WID)
    click $WID $((${geometry%x*} - 88)) 44
    sleep 1
    grab $WID "$1"
    xdotool key Escape
    sleep 0.5
    click $WID $((${geometry%x*} - 17)) 96
    sleep 1
    grab $WID "$2"
    xdotool key Escape
    sleep 0.5
    click $WID 61 230
    sleep 1.5
    grab $WID "$3"
    stop
}
workspace "$OUT/workspace.png" "$OUT/workspace-images.png" "$OUT/media.png"
mkdir -p "$HOME/.config/qt6ct"
cat > "$HOME/.config/qt6ct/qt6ct.conf" << 'CONF'
[Appearance]
color_scheme_path=/usr/share/qt6ct/colors/darker.conf
custom_palette=true
style=Fusion

[Fonts]
fixed="Monospace,9,-1,5,400,0,0,0,0,0,0,0,0,0,0,1"
general="Sans Serif,9,-1,5,400,0,0,0,0,0,0,0,0,0,0,1"
CONF
QT_QPA_PLATFORMTHEME=qt6ct workspace "$OUT/workspace-dark.png" "$OUT/workspace-images-dark.png" "$OUT/media-dark.png"

# Files and folders at hand for "Poster Series", and links saved from its notes.
mkdir -p "$HOME/Type specimens"
for name in "Poster brief.pdf" "Print quotes.ods" "Palette.svg" "Layout notes.txt"; do
    printf 'x' > "$HOME/$name"
done
python3 - "$LIB" "$HOME" << 'PY'
import json, sys, urllib.parse, uuid
lib, home = sys.argv[1], sys.argv[2]
path = lib + "/projects.library"
projects = json.load(open(path))
notes = []
for project in projects:
    if project["_name"] != "Poster Series":
        continue
    project["_quickAccessURL"] = ["file://" + urllib.parse.quote(home + "/" + name) for name in
        ("Poster brief.pdf", "Type specimens", "Print quotes.ods", "Palette.svg", "Layout notes.txt")]
    notes = [note["id"] for note in project["_tdNote"]]
json.dump(projects, open(path, "w"))
links = [
    ("Swiss Style Posters: A Visual History", "How the International Typographic Style shaped fifty years of poster design, from Basel and Zurich to the rest of the world, with over two hundred examples from museum archives, notes on the printers who set them, and an essay on why the grid outlived the movement that made it.", "https://design-archive.example.org/swiss-style"),
    ("Choosing Paper for Screen Printing", "Weights, finishes and how each takes ink.", "https://printshop.example.com/guides/paper"),
    (None, None, "https://example.net/grid-systems.pdf"),
    ("Variable Fonts in Print", "A practical look at variable type for large formats: what survives the trip to the press and what does not.", "https://type.example.com/articles/variable-fonts-in-print"),
]
json.dump([dict({"id": str(uuid.uuid4()).upper(), "tdNoteId": notes[i % len(notes)], "url": url},
                **({"title": title} if title else {}), **({"desc": desc} if desc else {}))
           for i, (title, desc, url) in enumerate(links)], open(lib + "/links.library", "w"))
PY

# The workspace of "Poster Series" with its quick-access bar, then the Links destination.
quickAccessAndLinks() {
    start
    click $WID 590 150
    sleep 1
    grab $WID "$1"
    click $WID 58 258
    sleep 1
    grab $WID "$2"
    stop
}
quickAccessAndLinks "$OUT/workspace-quick-access.png" "$OUT/links.png"
QT_QPA_PLATFORMTHEME=qt6ct quickAccessAndLinks "$OUT/workspace-quick-access-dark.png" "$OUT/links-dark.png"
kill $WM
