// Generates the glyph tables of the built-in enhanced fonts, and converts the
// font specimens that the tests draw from BMP to PNG.
//
//   font-generator fonts OUTPUT_DIR UBUNTU_MONO_TTF MISC_FIXED_DIR DEJAVU_DIR
//   font-generator png INPUT.bmp OUTPUT.png [SCALE]
//
// The four Ubuntu Mono fonts are the Ubuntu Mono typeface rendered by
// FreeType with monochrome hinting at 12, 16, 24 and 30 pixels per em into
// fixed cells. Code points that the typeface lacks are composed from a base
// letter and the typeface's own spacing accent (Latin letters with marks), or
// else rendered from DejaVu Sans Mono or DejaVu Sans at the largest size that
// fits the cell; the generator prints every such code point.
//
// inkora_default is a small proportional font with a cap height of 5 pixels,
// derived from the public-domain misc-fixed bitmap fonts: each glyph is taken
// from the 5x7 font (or 6x12 / 6x13 where 5x7 lacks it), squeezed to the cap
// height by dropping repeated rows, and cropped to its ink. Accented letters
// are composed from their base letter and a hand-drawn mark (Unicode canonical
// decomposition through ICU), and a few glyphs are drawn by hand.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& what) {
    std::cerr << "font-generator: " << what << "\n";
    std::exit(1);
}

// ------------------------------------------------------------------ ink

// A bitmap positioned against the pen origin: left is the column of its first
// pixel, top the number of rows from the baseline up to its top edge (as
// FreeType's bitmap_top), so row r lies at height top - 1 - r.
struct Ink {
    int left = 0;
    int top = 0;
    int w = 0;
    int h = 0;
    std::vector<uint8_t> px;  // w * h, 1 = ink

    bool at(int c, int r) const { return c >= 0 && c < w && r >= 0 && r < h && px[r * w + c] != 0; }
    bool empty() const { return std::find(px.begin(), px.end(), 1) == px.end(); }
    int bottom() const { return top - h; }  // height of the bottom edge (negative: below the baseline)
};

Ink crop(const Ink& in) {
    int c0 = in.w, c1 = -1, r0 = in.h, r1 = -1;
    for (int r = 0; r < in.h; ++r) {
        for (int c = 0; c < in.w; ++c) {
            if (in.at(c, r)) {
                c0 = std::min(c0, c);
                c1 = std::max(c1, c);
                r0 = std::min(r0, r);
                r1 = std::max(r1, r);
            }
        }
    }
    Ink out;
    if (c1 < 0) {
        return out;
    }
    out.left = in.left + c0;
    out.top = in.top - r0;
    out.w = c1 - c0 + 1;
    out.h = r1 - r0 + 1;
    out.px.resize(static_cast<size_t>(out.w * out.h));
    for (int r = 0; r < out.h; ++r) {
        for (int c = 0; c < out.w; ++c) {
            out.px[r * out.w + c] = in.at(c + c0, r + r0) ? 1 : 0;
        }
    }
    return out;
}

// Union of inks in the same coordinates.
Ink merge(const std::vector<Ink>& parts) {
    int left = 1 << 20, right = -(1 << 20), top = -(1 << 20), bottom = 1 << 20;
    for (const Ink& p : parts) {
        if (p.w == 0) {
            continue;
        }
        left = std::min(left, p.left);
        right = std::max(right, p.left + p.w);
        top = std::max(top, p.top);
        bottom = std::min(bottom, p.bottom());
    }
    Ink out;
    if (right <= left) {
        return out;
    }
    out.left = left;
    out.top = top;
    out.w = right - left;
    out.h = top - bottom;
    out.px.assign(static_cast<size_t>(out.w * out.h), 0);
    for (const Ink& p : parts) {
        for (int r = 0; r < p.h; ++r) {
            for (int c = 0; c < p.w; ++c) {
                if (p.at(c, r)) {
                    out.px[(top - p.top + r) * out.w + (p.left - left + c)] = 1;
                }
            }
        }
    }
    return out;
}

Ink from_rows(const std::vector<std::string>& rows, int top) {
    Ink out;
    out.h = static_cast<int>(rows.size());
    out.w = rows.empty() ? 0 : static_cast<int>(rows[0].size());
    out.top = top;
    for (const std::string& row : rows) {
        if (static_cast<int>(row.size()) != out.w) {
            die("ragged hand-drawn glyph");
        }
        for (char ch : row) {
            out.px.push_back(ch == '#' ? 1 : 0);
        }
    }
    return out;
}

// ------------------------------------------------------------------ FreeType

struct FreeType {
    FT_Library lib = nullptr;
    FreeType() {
        if (FT_Init_FreeType(&lib) != 0) {
            die("cannot start FreeType");
        }
    }
    ~FreeType() { FT_Done_FreeType(lib); }
};

struct Face {
    FT_Face face = nullptr;
    std::string name;
    Face(FT_Library lib, const std::string& path) : name(path) {
        if (FT_New_Face(lib, path.c_str(), 0, &face) != 0) {
            die("cannot open font " + path);
        }
    }
    ~Face() { FT_Done_Face(face); }
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    bool has(char32_t cp) const { return FT_Get_Char_Index(face, cp) != 0; }

    // Monochrome rendering of cp at the given pixel size (ignored for bitmap
    // fonts, which have their one strike), cropped to its ink.
    std::optional<Ink> render(char32_t cp, int pixels) const {
        const FT_UInt index = FT_Get_Char_Index(face, cp);
        if (index == 0) {
            return std::nullopt;
        }
        if (face->num_fixed_sizes > 0) {
            FT_Select_Size(face, 0);
        } else if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0) {
            die("cannot size " + name);
        }
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0) {
            die("cannot render a glyph of " + name);
        }
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& b = slot->bitmap;
        Ink ink;
        ink.left = slot->bitmap_left;
        ink.top = slot->bitmap_top;
        ink.w = static_cast<int>(b.width);
        ink.h = static_cast<int>(b.rows);
        ink.px.resize(static_cast<size_t>(ink.w * ink.h));
        for (int r = 0; r < ink.h; ++r) {
            const unsigned char* row = b.buffer + static_cast<ptrdiff_t>(r) * b.pitch;
            for (int c = 0; c < ink.w; ++c) {
                const bool on = b.pixel_mode == FT_PIXEL_MODE_MONO ? ((row[c / 8] >> (7 - c % 8)) & 1) != 0
                                                                   : row[c] >= 128;
                ink.px[r * ink.w + c] = on ? 1 : 0;
            }
        }
        return crop(ink);
    }
};

// ------------------------------------------------------------------ coverage

std::vector<char32_t> common_code_points() {
    const std::array<std::pair<char32_t, char32_t>, 9> ranges = {{{0x20, 0x7E},
                                                                  {0xA1, 0x17F},
                                                                  {0x192, 0x192},
                                                                  {0x400, 0x49B},
                                                                  {0x1E00, 0x1E2B},
                                                                  {0x1EC8, 0x1EC9},
                                                                  {0x20A7, 0x20A7},
                                                                  {0x20AC, 0x20AC},
                                                                  {0x2190, 0x2193}}};
    std::vector<char32_t> out;
    for (const auto& [lo, hi] : ranges) {
        for (char32_t c = lo; c <= hi; ++c) {
            out.push_back(c);
        }
    }
    return out;
}

// Canonical decomposition (NFD) of one code point: base first, then marks.
std::vector<char32_t> decompose(char32_t cp) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
    if (U_FAILURE(status)) {
        die("ICU has no NFD data");
    }
    UChar in[2];
    int32_t in_len = 0;
    UBool error = 0;
    U16_APPEND(in, in_len, 2, static_cast<UChar32>(cp), error);
    if (error != 0) {
        die("code point out of range");
    }
    UChar out[16];
    const int32_t out_len = unorm2_normalize(nfd, in, in_len, out, 16, &status);
    if (U_FAILURE(status)) {
        die("cannot decompose a code point");
    }
    std::vector<char32_t> cps;
    for (int32_t i = 0; i < out_len;) {
        UChar32 c;
        U16_NEXT(out, i, out_len, c);
        cps.push_back(static_cast<char32_t>(c));
    }
    return cps;
}

// ------------------------------------------------------------------ marks

enum class Place { Above, Below, Attached, AttachedRight };

struct Mark {
    char32_t combining;
    Place place;
    char32_t spacing;  // the typeface's spacing form of the mark, 0 if none
    std::vector<std::string> small;  // hand-drawn form for inkora_default
};

const std::vector<Mark>& marks() {
    static const std::vector<Mark> table = {
        {0x0300, Place::Above, 0x0060, {"#.", ".#"}},
        {0x0301, Place::Above, 0x00B4, {".#", "#."}},
        {0x0302, Place::Above, 0x02C6, {".#.", "#.#"}},
        {0x0303, Place::Above, 0x02DC, {".#.#", "#.#."}},
        {0x0304, Place::Above, 0x00AF, {"###"}},
        {0x0306, Place::Above, 0x02D8, {"#..#", ".##."}},
        {0x0307, Place::Above, 0x02D9, {"#"}},
        {0x0308, Place::Above, 0x00A8, {"#.#"}},
        {0x0309, Place::Above, 0, {"##", ".#"}},
        {0x030A, Place::Above, 0x02DA, {".#.", "#.#", ".#."}},
        {0x030B, Place::Above, 0x02DD, {"#.#", "#.#"}},
        {0x030C, Place::Above, 0x02C7, {"#.#", ".#."}},
        {0x030F, Place::Above, 0, {"#.#.", ".#.#"}},
        {0x0311, Place::Above, 0, {".##.", "#..#"}},
        {0x0323, Place::Below, 0x02D9, {"#"}},
        {0x0325, Place::Below, 0x02DA, {".#.", "#.#", ".#."}},
        {0x0326, Place::Below, 0x002C, {".#", "#."}},
        {0x0327, Place::Attached, 0x00B8, {".#", "#."}},
        {0x0328, Place::AttachedRight, 0x02DB, {"#.", ".#"}},
        {0x032D, Place::Below, 0x02C6, {".#.", "#.#"}},
        {0x032E, Place::Below, 0x02D8, {"#..#", ".##."}},
        {0x0330, Place::Below, 0x02DC, {".#.#", "#.#."}},
        {0x0331, Place::Below, 0x00AF, {"###"}},
    };
    return table;
}

const Mark* find_mark(char32_t cp) {
    for (const Mark& m : marks()) {
        if (m.combining == cp) {
            return &m;
        }
    }
    return nullptr;
}

// The base without the dot of i and j, for letters with a mark above.
Ink dotless(const Ink& base) {
    // Drop rows from the top down to the first blank row.
    int cut = -1;
    for (int r = 0; r < base.h; ++r) {
        bool blank = true;
        for (int c = 0; c < base.w; ++c) {
            blank = blank && !base.at(c, r);
        }
        if (blank) {
            cut = r;
            break;
        }
    }
    if (cut < 0) {
        return base;
    }
    Ink out = base;
    out.h = base.h - cut - 1;
    out.top = base.top - cut - 1;
    out.px.assign(base.px.begin() + (cut + 1) * base.w, base.px.end());
    return crop(out);
}

// Places each mark above or below the base, centred on its ink; gap_above
// blank rows separate the base from the first mark above, gap_below from the
// first mark below (attached marks touch).
Ink compose(Ink base, const std::vector<std::pair<const Mark*, Ink>>& parts, int gap_above, int gap_below) {
    std::vector<Ink> all{base};
    int top = base.top;
    int bottom = base.bottom();
    bool first_above = true, first_below = true;
    for (const auto& [mark, ink0] : parts) {
        Ink ink = ink0;
        ink.left = base.left + (base.w - ink.w) / 2;
        switch (mark->place) {
        case Place::Above:
            ink.top = top + (first_above ? gap_above : 0) + ink.h;
            top = ink.top;
            first_above = false;
            break;
        case Place::Below:
            ink.top = bottom - (first_below ? gap_below : 0);
            bottom = ink.bottom();
            first_below = false;
            break;
        case Place::Attached:
            ink.top = bottom;
            bottom = ink.bottom();
            first_below = false;
            break;
        case Place::AttachedRight:
            ink.left = base.left + base.w - ink.w;
            ink.top = bottom;
            bottom = ink.bottom();
            first_below = false;
            break;
        }
        all.push_back(ink);
    }
    return merge(all);
}

// ------------------------------------------------------------------ glyph records

struct GlyphRecord {
    char32_t cp = 0;
    int width = 0;
    int height = 0;
    int decent = 0;
    int combine = 0;
    std::vector<uint8_t> bits;  // width * height, row-major
    std::string source;
};

std::vector<uint8_t> pack(const GlyphRecord& g) {
    std::vector<uint8_t> bytes(static_cast<size_t>((g.width * g.height + 7) / 8), 0);
    for (size_t i = 0; i < g.bits.size(); ++i) {
        if (g.bits[i] != 0) {
            bytes[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
        }
    }
    if (bytes.size() > 200) {
        die("glyph image larger than 200 bytes");
    }
    return bytes;
}

// ------------------------------------------------------------------ fixed-cell Ubuntu Mono

struct CellFont {
    std::string name;  // C identifier prefix
    int pixels;
    int width;
    int height;
    int descent;
};

GlyphRecord place_in_cell(char32_t cp, const Ink& ink, const CellFont& cell, const std::string& source) {
    GlyphRecord g;
    g.cp = cp;
    g.width = cell.width;
    g.height = cell.height;
    g.decent = cell.descent;
    g.source = source;
    g.bits.assign(static_cast<size_t>(cell.width * cell.height), 0);
    if (ink.w == 0) {
        return g;
    }
    const int ascent = cell.height - cell.descent;
    // Keep the pen position and baseline; shift only what would stick out.
    int left = ink.left;
    if (left + ink.w > cell.width) {
        left = cell.width - ink.w;
    }
    left = std::max(left, ink.w > cell.width ? (cell.width - ink.w) / 2 : 0);
    int top = ink.top;
    if (top > ascent) {
        top = ascent;
    }
    if (top - ink.h < -cell.descent && ink.h <= cell.height) {
        top = ink.h - cell.descent;
    }
    const int row0 = ascent - top;
    for (int r = 0; r < ink.h; ++r) {
        for (int c = 0; c < ink.w; ++c) {
            const int x = left + c, y = row0 + r;
            if (ink.at(c, r) && x >= 0 && x < cell.width && y >= 0 && y < cell.height) {
                g.bits[y * cell.width + x] = 1;
            }
        }
    }
    return g;
}

bool fits(const Ink& ink, const CellFont& cell) {
    return ink.w <= cell.width && ink.top <= cell.height - cell.descent && ink.bottom() >= -cell.descent;
}

std::vector<GlyphRecord> make_cell_font(const CellFont& cell, const Face& ubuntu, const Face& dejavu_mono,
                                        const Face& dejavu_sans) {
    std::vector<GlyphRecord> out;
    for (char32_t cp : common_code_points()) {
        if (auto ink = ubuntu.render(cp, cell.pixels)) {
            out.push_back(place_in_cell(cp, *ink, cell, "Ubuntu Mono"));
            continue;
        }
        // Composed from the typeface's own base letter and spacing accents.
        const std::vector<char32_t> parts = decompose(cp);
        bool composed = false;
        if (parts.size() > 1 && ubuntu.has(parts[0])) {
            std::vector<std::pair<const Mark*, Ink>> mark_inks;
            bool ok = true;
            bool any_above = false;
            for (size_t i = 1; i < parts.size() && ok; ++i) {
                const Mark* m = find_mark(parts[i]);
                std::optional<Ink> ink;
                if (m != nullptr && m->spacing != 0) {
                    ink = ubuntu.render(m->spacing, cell.pixels);
                }
                ok = ink.has_value() && ink->w > 0;
                if (ok) {
                    mark_inks.emplace_back(m, *ink);
                    any_above = any_above || m->place == Place::Above;
                }
            }
            if (ok) {
                Ink base = *ubuntu.render(parts[0], cell.pixels);
                if (any_above && (parts[0] == U'i' || parts[0] == U'j')) {
                    base = dotless(base);
                }
                Ink ink = compose(base, mark_inks, 1, 1);
                if (!fits(ink, cell)) {
                    ink = compose(base, mark_inks, 0, 0);
                }
                out.push_back(place_in_cell(cp, ink, cell, "Ubuntu Mono, composed"));
                composed = true;
            }
        }
        if (composed) {
            continue;
        }
        // Not in the typeface at all: the largest DejaVu rendering that fits.
        bool placed = false;
        for (const Face* face : {&dejavu_mono, &dejavu_sans}) {
            if (!face->has(cp)) {
                continue;
            }
            std::optional<Ink> best;
            for (int px = cell.pixels; px >= 6; --px) {
                best = face->render(cp, px);
                if (fits(*best, cell)) {
                    break;
                }
            }
            out.push_back(place_in_cell(cp, *best, cell, face == &dejavu_mono ? "DejaVu Sans Mono" : "DejaVu Sans"));
            placed = true;
            break;
        }
        if (!placed) {
            die("no font has a glyph for a code point");
        }
    }
    return out;
}

// ------------------------------------------------------------------ inkora_default

constexpr int kCapHeight = 5;

// Squeezes the part above the baseline to the cap height by dropping rows,
// first a row equal to the row below it, else the row closest to a neighbour;
// the top row of ink and the row on the baseline stay.
Ink squeeze(Ink ink, bool* lossless) {
    *lossless = true;
    while (ink.top > kCapHeight) {
        const int base_row = std::min(ink.top - 1, ink.h - 1);  // bitmap row just above the baseline
        int best = -1;
        int best_score = 1 << 20;
        const int middle = base_row / 2;
        for (int r = 1; r < base_row; ++r) {
            int diff = 0;
            for (int c = 0; c < ink.w; ++c) {
                diff += ink.at(c, r) != ink.at(c, r + 1) ? 1 : 0;
            }
            // Prefer identical rows, then rows near the middle.
            const int score = diff * 100 + std::abs(r - middle);
            if (score <= best_score) {
                best_score = score;
                best = r;
            }
        }
        if (best < 0) {
            *lossless = false;
            break;
        }
        if (best_score >= 100) {
            *lossless = false;
        }
        ink.px.erase(ink.px.begin() + best * ink.w, ink.px.begin() + (best + 1) * ink.w);
        --ink.h;
        --ink.top;
    }
    return ink;
}

GlyphRecord to_proportional(char32_t cp, const Ink& ink0, const std::string& source) {
    GlyphRecord g;
    g.cp = cp;
    g.source = source;
    if (ink0.w == 0) {
        g.width = 2;
        g.height = 1;
        g.bits.assign(2, 0);
        return g;
    }
    // The record has no vertical offset: a glyph reaches from its top down to
    // the baseline at least, so marks that float above it keep their place.
    Ink ink = ink0;
    if (ink.bottom() > 0) {
        ink.h += ink.bottom();
        ink.px.resize(static_cast<size_t>(ink.w * ink.h), 0);
    }
    g.width = ink.w;
    g.height = ink.h;
    g.decent = std::max(0, -ink.bottom());
    g.bits = ink.px;
    return g;
}

struct Pinned {
    char32_t cp;
    int decent;
    std::vector<std::string> rows;
};

const std::vector<Pinned>& pinned_default_glyphs() {
    static const std::vector<Pinned> table = {
        // Stand-in for every code point the font lacks: an empty box.
        {0x0000, 1, {"####", "#..#", "#..#", "#..#", "#..#", "####"}},
        {0x0020, 0, {".."}},
        {0x00A0, 0, {".."}},
        {0x002E, 0, {"##"}},
        {0x0041, 0, {".##.", "#..#", "####", "#..#", "#..#"}},
        {0x0042, 0, {"###.", "#..#", "###.", "#..#", "###."}},
        {0x0067, 1, {".###", "#..#", ".###", "...#", "###."}},
        {0x0069, 0, {"#", ".", "#", "#", "#"}},
        {0x20AC, 2, {"..###", ".#...", "####.", ".#...", "####.", ".#...", "..###"}},
    };
    return table;
}

std::vector<GlyphRecord> make_default_font(const Face& fixed5x7, const Face& fixed4x6, const Face& fixed6x12,
                                           const Face& fixed6x13) {
    std::map<char32_t, GlyphRecord> done;
    std::map<char32_t, Ink> inks;  // glyphs as positioned ink, for composition
    for (const Pinned& p : pinned_default_glyphs()) {
        const int top = static_cast<int>(p.rows.size()) - p.decent;
        Ink ink = from_rows(p.rows, top);
        GlyphRecord g;
        g.cp = p.cp;
        g.width = ink.w;
        g.height = ink.h;
        g.decent = p.decent;
        g.bits = ink.px;
        g.source = "drawn by hand";
        done[p.cp] = g;
        inks[p.cp] = ink;
    }

    // A glyph of the 5x7 font whose extra row is a repeated one loses nothing
    // by the squeeze; otherwise the 4x6 font, drawn for a cap height of 5,
    // has the better shape; the larger fonts are the last resort.
    std::function<std::optional<Ink>(char32_t)> glyph_ink = [&](char32_t cp) -> std::optional<Ink> {
        if (auto it = inks.find(cp); it != inks.end()) {
            return it->second;
        }
        std::optional<Ink> lossy;
        for (const Face* face : {&fixed5x7, &fixed4x6, &fixed6x12, &fixed6x13}) {
            std::optional<Ink> ink = face->render(cp, 0);
            if (!ink) {
                continue;
            }
            bool lossless = true;
            Ink squeezed = squeeze(*ink, &lossless);
            if (lossless) {
                inks[cp] = squeezed;
                return squeezed;
            }
            if (!lossy) {
                lossy = squeezed;
            }
        }
        if (lossy) {
            inks[cp] = *lossy;
        }
        return lossy;
    };

    std::vector<char32_t> cps = common_code_points();
    cps.push_back(0x00A0);
    cps.push_back(0x0000);
    std::sort(cps.begin(), cps.end());
    std::vector<GlyphRecord> out;
    for (char32_t cp : cps) {
        if (auto it = done.find(cp); it != done.end()) {
            out.push_back(it->second);
            continue;
        }
        const std::vector<char32_t> parts = decompose(cp);
        if (parts.size() > 1) {
            std::optional<Ink> base = glyph_ink(parts[0]);
            if (!base) {
                die("no base glyph for a composed letter");
            }
            std::vector<std::pair<const Mark*, Ink>> mark_inks;
            bool any_above = false;
            for (size_t i = 1; i < parts.size(); ++i) {
                const Mark* m = find_mark(parts[i]);
                if (m == nullptr) {
                    std::fprintf(stderr, "no mark U+%04X for U+%04X\n", static_cast<unsigned>(parts[i]),
                                 static_cast<unsigned>(cp));
                    die("missing hand-drawn mark");
                }
                mark_inks.emplace_back(m, from_rows(m->small, 0));
                any_above = any_above || m->place == Place::Above;
            }
            Ink b = *base;
            if (any_above && (parts[0] == U'i' || parts[0] == U'j')) {
                b = dotless(b);
            }
            const Ink ink = compose(b, mark_inks, 1, 0);
            inks[cp] = ink;
            out.push_back(to_proportional(cp, ink, "composed"));
            continue;
        }
        std::optional<Ink> ink = glyph_ink(cp);
        if (!ink) {
            std::fprintf(stderr, "U+%04X\n", static_cast<unsigned>(cp));
            die("no misc-fixed font has a glyph for a code point");
        }
        out.push_back(to_proportional(cp, *ink, "misc-fixed"));
    }
    for (GlyphRecord& g : out) {
        if (g.cp == 0x00A8 || g.cp == 0x00B8) {
            g.combine = 1;
        }
    }
    return out;
}

// ------------------------------------------------------------------ output

void write_font(const std::string& dir, const std::string& file, const std::string& name,
                const std::vector<GlyphRecord>& glyphs, const std::string& origin) {
    std::ostringstream s;
    s << "// Glyph tables of the built-in enhanced font " << name << ".\n"
      << "// Generated by tools/font-generator (see its README); do not edit.\n"
      << "// " << origin << "\n\n"
      << "#include \"inkora-graphics-enhanced-fonts.h\"\n\n"
      << "extern \"C\" {\n\n"
      << "const inkora_font_char " << name << "_data[" << glyphs.size() << "] = {\n";
    for (const GlyphRecord& g : glyphs) {
        const std::vector<uint8_t> bytes = pack(g);
        char head[96];
        std::snprintf(head, sizeof head, "    /* U+%04X */ {%d, %d, %d, %d, %zu, {", static_cast<unsigned>(g.cp),
                      g.width, g.height, g.decent, g.combine, bytes.size());
        s << head;
        for (size_t i = 0; i < bytes.size(); ++i) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "%s0x%02X", i == 0 ? "" : ", ", bytes[i]);
            s << byte;
        }
        s << "}},\n";
    }
    s << "};\n\nconst int32_t " << name << "_lookup[" << glyphs.size() << "] = {";
    for (size_t i = 0; i < glyphs.size(); ++i) {
        char cp[16];
        std::snprintf(cp, sizeof cp, "%s0x%04X,", i % 10 == 0 ? "\n    " : " ", static_cast<unsigned>(glyphs[i].cp));
        s << cp;
    }
    s << "\n};\n\nconst inkora_enhanced_font " << name << " = {1, " << glyphs.size() << ", " << name << "_lookup, "
      << name << "_data};\n\n}  // extern \"C\"\n";
    std::ofstream f(dir + "/" + file);
    f << s.str();
    if (!f) {
        die("cannot write " + file);
    }
}

void report_sources(const std::string& name, const std::vector<GlyphRecord>& glyphs) {
    std::map<std::string, std::vector<char32_t>> by_source;
    for (const GlyphRecord& g : glyphs) {
        by_source[g.source].push_back(g.cp);
    }
    for (const auto& [source, cps] : by_source) {
        std::printf("%s: %zu from %s", name.c_str(), cps.size(), source.c_str());
        if (cps.size() < 100) {
            std::printf(":");
            for (char32_t cp : cps) {
                std::printf(" %04X", static_cast<unsigned>(cp));
            }
        }
        std::printf("\n");
    }
}

int generate(const std::string& out_dir, const std::string& ubuntu_path, const std::string& misc_dir,
             const std::string& dejavu_dir) {
    FreeType ft;
    const Face ubuntu(ft.lib, ubuntu_path);
    const Face dejavu_mono(ft.lib, dejavu_dir + "/DejaVuSansMono.ttf");
    const Face dejavu_sans(ft.lib, dejavu_dir + "/DejaVuSans.ttf");
    const Face fixed5x7(ft.lib, misc_dir + "/5x7.pcf.gz");
    const Face fixed4x6(ft.lib, misc_dir + "/4x6.pcf.gz");
    const Face fixed6x12(ft.lib, misc_dir + "/6x12.pcf.gz");
    const Face fixed6x13(ft.lib, misc_dir + "/6x13.pcf.gz");

    const std::vector<CellFont> cells = {{"ubuntu_mono_e_12pt", 12, 6, 12, 2},
                                         {"ubuntu_mono_e_16pt", 16, 8, 17, 3},
                                         {"ubuntu_mono_e_24pt", 24, 12, 25, 5},
                                         {"ubuntu_mono_e_30pt", 30, 15, 31, 6}};
    for (const CellFont& cell : cells) {
        const std::vector<GlyphRecord> glyphs = make_cell_font(cell, ubuntu, dejavu_mono, dejavu_sans);
        std::string file = cell.name;
        std::replace(file.begin(), file.end(), '_', '-');
        write_font(out_dir, file + ".cpp", cell.name, glyphs,
                   "Ubuntu Mono Regular rendered at " + std::to_string(cell.pixels) + " pixels per em into " +
                       std::to_string(cell.width) + " x " + std::to_string(cell.height) + " cells, descent " +
                       std::to_string(cell.descent) + ".");
        report_sources(cell.name, glyphs);
    }
    const std::vector<GlyphRecord> glyphs = make_default_font(fixed5x7, fixed4x6, fixed6x12, fixed6x13);
    write_font(out_dir, "inkora-default.cpp", "inkora_default", glyphs,
               "Derived from the public-domain misc-fixed 5x7, 4x6, 6x12 and 6x13 fonts; cap height 5.");
    report_sources("inkora_default", glyphs);
    return 0;
}

// ------------------------------------------------------------------ BMP to PNG

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

void png_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put_be32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
    put_be32(out, static_cast<uint32_t>(crc));
}

int bmp_to_png(const std::string& in_path, const std::string& out_path, int scale) {
    std::ifstream in(in_path, std::ios::binary);
    const std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M' || le32(bmp, 28) % 65536 != 24) {
        die("not a 24-bit BMP: " + in_path);
    }
    const uint32_t offset = le32(bmp, 10);
    const auto width = static_cast<int32_t>(le32(bmp, 18));
    const auto height = static_cast<int32_t>(le32(bmp, 22));
    const size_t row_size = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
    if (width <= 0 || height <= 0 || offset + row_size * static_cast<size_t>(height) > bmp.size()) {
        die("truncated BMP: " + in_path);
    }
    // PNG rows top-down, filter byte 0, RGB; every pixel scale x scale.
    std::vector<uint8_t> raw;
    for (int32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> line;
        const uint8_t* row = bmp.data() + offset + row_size * static_cast<size_t>(height - 1 - y);
        for (int32_t x = 0; x < width; ++x) {
            for (int i = 0; i < scale; ++i) {
                line.insert(line.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
            }
        }
        for (int i = 0; i < scale; ++i) {
            raw.push_back(0);
            raw.insert(raw.end(), line.begin(), line.end());
        }
    }
    uLongf packed_len = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packed_len);
    if (compress2(packed.data(), &packed_len, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) {
        die("zlib failed");
    }
    packed.resize(packed_len);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put_be32(ihdr, static_cast<uint32_t>(width * scale));
    put_be32(ihdr, static_cast<uint32_t>(height * scale));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no filter choice, no interlace
    png_chunk(png, "IHDR", ihdr);
    png_chunk(png, "IDAT", packed);
    png_chunk(png, "IEND", {});
    std::ofstream out(out_path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out) {
        die("cannot write " + out_path);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "fonts") {
        return generate(args[1], args[2], args[3], args[4]);
    }
    if ((args.size() == 3 || args.size() == 4) && args[0] == "png") {
        const int scale = args.size() == 4 ? std::atoi(args[3].c_str()) : 1;
        if (scale < 1 || scale > 16) {
            die("scale must be 1 to 16");
        }
        return bmp_to_png(args[1], args[2], scale);
    }
    std::cerr << "usage: font-generator fonts OUTPUT_DIR UBUNTU_MONO_TTF MISC_FIXED_DIR DEJAVU_DIR\n"
                 "       font-generator png INPUT.bmp OUTPUT.png [SCALE]\n";
    return 2;
}
