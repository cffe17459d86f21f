# Compares what the probe saw (dump and colors of one run) with the hand-written tables.
#
#   awk -f check_layout.awk -v dpi=96 expected_layout.tsv expected_demo.tsv probe.out
#
# Prints one "FAIL: ..." line per difference and a summary; exits 1 if anything differs.
# Pixels come from twips the way Windows' MulDiv rounds (to nearest, halves up), each
# coordinate and each size on its own.

BEGIN {
    FS = "\t"
    failures = 0
    # Thresholds for exact-colour pixels: text is anti-aliased, so only some pixels of a
    # word have its exact colour; a "-" has as few as one or two.
    min_word_pixels = 5
    min_dash_pixels = 1
}

function muldiv(a, b, c) { return int((a * b + int(c / 2)) / c) }
function px(twips) { return muldiv(twips, dpi, 1440) }
function abs(v) { return v < 0 ? -v : v }

function fail(what) {
    print "FAIL: " what
    failures++
}

function unescape(s,    out, i, c, n) {
    out = ""
    n = length(s)
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (c == "\\" && i < n) {
            c = substr(s, ++i, 1)
            if (c == "t") c = "\t"
            else if (c == "n") c = "\n"
            else if (c == "r") c = "\r"
        }
        out = out c
    }
    return out
}

# expected_layout.tsv
FILENAME == ARGV[1] {
    if ($0 ~ /^#/ || $1 == "name") next
    if ($3 == "window") {
        form_caption = $4
        client_w = $7
        client_h = $8
        next
    }
    id = 1000 + rows
    row_id[rows++] = id
    name[id] = $1
    id_of[$1] = id
    parent[id] = $2
    kind[id] = $3
    caption[id] = $4
    left[id] = $5; top[id] = $6; width[id] = $7; height[id] = $8
    align[id] = $9
    colour[id] = $10
    next
}

# expected_demo.tsv, or a case's own table in its form: what the status labels show once
# the checks have run.
FILENAME == ARGV[2] {
    if ($0 ~ /^#/ || $1 == "name") next
    run_caption[$1] = $2
    run_colour[$1] = $3
    next
}

# the probe's output
$1 == "screen" { screen_w = $2; screen_h = $3 }
$1 == "window" {
    seen_window = 1
    win_visible = $3; win_x = $4; win_y = $5; win_w = $6; win_h = $7
    cl_w = $10; cl_h = $11; win_dpi = $12; win_class = $13; win_text = unescape($14)
}
$1 == "control" {
    id = $2
    seen[id]++
    order[n_seen++] = id
    c_parent[id] = $3; c_class[id] = $5; c_visible[id] = $6; c_tabstop[id] = $7
    c_style[id] = $8
    c_x[id] = $9; c_y[id] = $10; c_w[id] = $11; c_h[id] = $12
    c_px[id] = $13; c_py[id] = $14
    c_text[id] = unescape($17)
}
$1 == "colors" {
    id = $2
    k_green[id] = $3; k_red[id] = $4; k_text[id] = $5; k_high[id] = $6
    ink_x[id] = $9; ink_y[id] = $10; ink_w[id] = $11; ink_h[id] = $12
    has_colors[id] = 1
}

function check_window() {
    if (!seen_window) { fail("the probe saw no main window"); return }
    if (win_class != "QtkForm2") fail("window class " win_class)
    if (win_text != form_caption) fail("window caption [" win_text "], expected [" form_caption "]")
    if (win_visible != 1) fail("window not visible")
    if (win_dpi != dpi) fail("the screen is at " win_dpi " DPI, expected " dpi)
    if (cl_w != px(client_w) || cl_h != px(client_h))
        fail("client area " cl_w "x" cl_h ", expected " px(client_w) "x" px(client_h))
    # Centred on the screen: the same margin on both sides, give or take the odd pixel.
    if (abs(2 * win_x + win_w - screen_w) > 2 || abs(2 * win_y + win_h - screen_h) > 2)
        fail("window at " win_x "," win_y " size " win_w "x" win_h " is not centred on " \
             screen_w "x" screen_h)
}

function expected_text(id) {
    return (name[id] in run_caption) ? run_caption[name[id]] : caption[id]
}

function expected_colour(id) {
    return (name[id] in run_colour) ? run_colour[name[id]] : colour[id]
}

function check_geometry(id, label,    ex, ey, ew, eh, ax, ay) {
    ex = px(left[id]); ey = px(top[id]); ew = px(width[id]); eh = px(height[id])
    # A frame is placed on the client area, a label on its frame.
    if (kind[id] == "frame") { ax = c_x[id]; ay = c_y[id] }
    else { ax = c_px[id]; ay = c_py[id] }
    if (ax != ex || ay != ey || c_w[id] != ew || c_h[id] != eh)
        fail(label " rect " ax "," ay " " c_w[id] "x" c_h[id] ", expected " ex "," ey " " ew "x" eh)
}

function check_colours(id, label, want,    g, r, t, h) {
    if (!has_colors[id]) { fail(label " has no colour reading"); return }
    g = k_green[id]; r = k_red[id]; t = k_text[id]; h = k_high[id]
    if (kind[id] == "frame") {
        # A frame's own pixels (its labels excluded): border and caption.
        if (h < min_word_pixels) fail(label " caption not in the highlight colour (" h " px)")
        if (g + r > 0) fail(label " shows status colours (green " g ", red " r ")")
        return
    }
    if (want == "green") {
        if (g < min_word_pixels || r > 0) fail(label " not green: green " g ", red " r)
    } else if (want == "red") {
        if (r < min_word_pixels || g > 0) fail(label " not red: red " r ", green " g)
    } else if (want == "highlight") {
        if (h < min_word_pixels || g + r > 0)
            fail(label " not in the highlight colour: highlight " h ", green " g ", red " r)
    } else if (want == "default") {
        if (t < (expected_text(id) == "-" ? min_dash_pixels : min_word_pixels) || g + r > 0)
            fail(label " not in the default colour: text " t ", green " g ", red " r)
    } else if (want == "blank") {
        # An empty caption: nothing at all may be drawn in the label.
        if (ink_w[id] != 0 || g + r > 0)
            fail(label " is not blank: " ink_w[id] "x" ink_h[id] " px of ink, green " g ", red " r)
    } else {
        fail(label " has an unknown expected colour " want)
    }
}

# Alignment as drawn: left text starts at the label's left edge; centred text has equal
# margins (within a pixel or two of rounding and glyph bearings).
function check_alignment(id, label,    slack) {
    if (kind[id] == "frame" || ink_w[id] == 0) return
    slack = muldiv(2, dpi, 96)
    if (align[id] == "left" && ink_x[id] > slack)
        fail(label " text starts " ink_x[id] " px in, expected left-aligned")
    if (align[id] == "centre" && abs(2 * ink_x[id] + ink_w[id] - c_w[id]) > 2 * slack)
        fail(label " text at " ink_x[id] "+" ink_w[id] " in " c_w[id] " px, expected centred")
}

# The window font is 8.25 pt: a line with a capital and a descender is about one em
# high, which grows with the DPI.
function check_font(id, label,    em, text) {
    text = expected_text(id)
    # Only one-line labels: a taller one may show a wrapped second line.
    if (kind[id] != "fixed" || height[id] != 255 || text !~ /[A-Z]/ || text !~ /[gjpqy]/ ||
        ink_h[id] == 0) return
    em = 8.25 * dpi / 72
    fonts_checked++
    font_report = font_report " " name[id] "=" ink_h[id]
    if (ink_h[id] < 0.75 * em || ink_h[id] > 1.2 * em)
        fail(label " text is " ink_h[id] " px high, expected about " em " px at " dpi " DPI")
}

END {
    check_window()
    if (n_seen != rows) fail("the window has " n_seen " controls, expected " rows)
    for (i = 0; i < n_seen; i++) {
        id = order[i]
        if (!(id in name)) fail("unexpected control id " id " [" c_text[id] "]")
    }
    for (i = 0; i < rows; i++) {
        id = row_id[i]
        label = name[id] " (id " id ")"
        if (!(id in seen)) { fail(label " missing"); continue }
        if (seen[id] > 1) fail(label " appears " seen[id] " times")
        want_parent = parent[id] == "Form2" ? 0 : id_of[parent[id]]
        if (c_parent[id] != want_parent)
            fail(label " is a child of id " c_parent[id] ", expected " want_parent)
        if (kind[id] == "frame") {
            # BS_GROUPBOX in the button style bits.
            if (c_class[id] != "Button" || substr(c_style[id], 8, 1) != "7")
                fail(label " is a " c_class[id] " with style " c_style[id] ", expected a group box")
        } else if (c_class[id] != "Static") {
            fail(label " is a " c_class[id] ", expected Static")
        }
        if (c_visible[id] != 1) fail(label " not visible")
        if (c_tabstop[id] != 0) fail(label " can take the focus (WS_TABSTOP)")
        if (c_text[id] != expected_text(id))
            fail(label " text [" c_text[id] "], expected [" expected_text(id) "]")
        check_geometry(id, label)
        check_colours(id, label, expected_colour(id))
        check_alignment(id, label)
        check_font(id, label)
    }
    if (fonts_checked == 0) fail("no label was fit to measure the font height")
    printf "text heights in px at %d DPI (one em is %.1f px):%s\n", dpi, 8.25 * dpi / 72, font_report
    printf "layout at %d DPI: %d controls compared, %d font heights measured, %d failure(s)\n", \
        dpi, rows, fonts_checked, failures
    exit failures > 0
}
