// The built-in PNG decoder against libpng: a corpus of every colour type and bit depth,
// with and without transparency, interlaced or not, of awkward widths, written by
// libpng, must decode to exactly the rows the libpng reader gives; damaged and
// malformed files must be refused cleanly.
#include <gtest/gtest.h>

#if defined(KVRAC_HAVE_PNG) && defined(KVRAC_HAVE_ZLIB)

#include <cstring>
#include <png.h>
#include <string>
#include <vector>
#include <zlib.h>

#include "images/png_decode.h"
#include "images/png_image.h"
#include "support/kvrac_runner.h"

namespace {

void write_file(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// ---- Files written by libpng ----

struct corpus_image {
    int w, h, type, depth;
    bool interlaced;
    int trns;   // 0: none; 1: a tRNS chunk (alpha table or transparent value)
    int filter; // 0..4: that filter on every row; 5: libpng's choice among all
};

// A sample of `depth` bits for pixel (x, y), channel c: scattered values, with every
// fourth pixel given `key` so that a transparent value occurs, and for 16 bits some
// pixels one off `key` in the low byte only.
unsigned sample(int x, int y, int c, int depth, unsigned key) {
    uint32_t v = static_cast<uint32_t>(x * 7919 + y * 104729 + c * 15485863) * 2654435761u;
    if ((x + 3 * y) % 4 == 0) return key;
    if (depth == 16 && (x + y) % 5 == 1) return key ^ 1;
    return (v >> 11) & ((1u << depth) - 1);
}

// Writes img with libpng. The palette has fewer entries than the depth allows when it
// can, and its alpha table fewer again.
void write_corpus_png(const fs::path& path, const corpus_image& img) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, img.w, img.h, img.depth, img.type,
                 img.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    static const int filters[6] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                                   PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filters[img.filter]);
    const int channels = img.type == 2 ? 3 : img.type == 4 ? 2 : img.type == 6 ? 4 : 1;
    const unsigned top = (1u << img.depth) - 1;
    const int colours = img.type == 3 ? std::max(2, static_cast<int>(top + 1) - 3) : 0;
    unsigned key[3] = {top / 3, top / 2, top};
    if (img.type == 3) {
        std::vector<png_color> palette;
        std::vector<png_byte> alpha;
        for (int i = 0; i < colours; ++i) {
            palette.push_back({static_cast<png_byte>(i * 37), static_cast<png_byte>(255 - i),
                               static_cast<png_byte>(i * i)});
            alpha.push_back(static_cast<png_byte>(i * 90));
        }
        png_set_PLTE(png, info, palette.data(), colours);
        if (img.trns) png_set_tRNS(png, info, alpha.data(), std::max(1, colours - 2), nullptr);
    } else if (img.trns) {
        png_color_16 k = {};
        k.gray = static_cast<png_uint_16>(key[0]);
        k.red = static_cast<png_uint_16>(key[0]);
        k.green = static_cast<png_uint_16>(key[1]);
        k.blue = static_cast<png_uint_16>(key[2]);
        png_set_tRNS(png, info, nullptr, 0, &k);
    }
    png_write_info(png, info);
    const size_t row_bytes = (static_cast<size_t>(img.w) * channels * img.depth + 7) / 8;
    std::vector<std::vector<png_byte>> rows(img.h, std::vector<png_byte>(row_bytes, 0));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < img.h; ++y) {
        for (int x = 0; x < img.w; ++x)
            for (int c = 0; c < channels; ++c) {
                // Palette indices stay below the palette's size; RGB keys go together.
                const unsigned k = img.type == 3 ? 1 : key[img.type == 2 ? c : 0];
                unsigned v = sample(x, y, c, img.depth, k);
                if (img.type == 3) v %= static_cast<unsigned>(colours);
                const size_t bit = (static_cast<size_t>(x) * channels + c) * img.depth;
                if (img.depth == 16) {
                    rows[y][bit / 8] = static_cast<png_byte>(v >> 8);
                    rows[y][bit / 8 + 1] = static_cast<png_byte>(v);
                } else {
                    rows[y][bit / 8] |= static_cast<png_byte>(v << (8 - img.depth - bit % 8));
                }
            }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// ---- Decoding with both readers ----

struct decoded {
    png_header header{};
    std::vector<png_row> rows;                // pixels pointers not kept
    std::vector<std::vector<uint8_t>> pixels; // each row's meaningful bytes
    std::string error;                        // empty when the whole file decoded
};

// Decodes path with libpng (png_reader_*) or the decoder, to the end or the first
// failure. Mono rows keep their bits past the last pixel when not interlaced (both
// readers set them); interlaced ones keep only the pixels' bits.
decoded decode(const fs::path& path, bool ours) {
    decoded d;
    png_reader r{};
    const int opened = ours ? png_decode_open(r, path) : png_reader_open(r, path);
    if (opened == 0) {
        d.header = r.header;
        png_row row;
        int got;
        while ((got = ours ? png_decode_next(r, &row) : png_reader_next(r, &row)) == 1) {
            size_t n = d.header.mono ? (row.count + 7) / 8 : static_cast<size_t>(row.count) * 3;
            std::vector<uint8_t> px(row.pixels, row.pixels + n);
            if (d.header.mono && d.header.interlaced && row.count % 8)
                px.back() &= static_cast<uint8_t>(0xFF00 >> (row.count % 8));
            d.rows.push_back(row);
            d.pixels.push_back(px);
        }
        if (got < 0) d.error = r.error[0] ? r.error : "failed without a reason";
    } else {
        d.error = r.error[0] ? r.error : "failed without a reason";
    }
    ours ? png_decode_close(r) : png_reader_close(r);
    return d;
}

// Both readers agree on every row of the file.
void expect_same_rows(const fs::path& path, const std::string& what) {
    SCOPED_TRACE(what);
    decoded lib = decode(path, false), own = decode(path, true);
    ASSERT_EQ(lib.error, "");
    ASSERT_EQ(own.error, "");
    EXPECT_EQ(own.header.width, lib.header.width);
    EXPECT_EQ(own.header.height, lib.header.height);
    EXPECT_EQ(own.header.mono, lib.header.mono);
    EXPECT_EQ(own.header.interlaced, lib.header.interlaced);
    ASSERT_EQ(own.rows.size(), lib.rows.size());
    for (size_t i = 0; i < lib.rows.size(); ++i) {
        const png_row &a = lib.rows[i], &b = own.rows[i];
        ASSERT_EQ((std::vector<int>{b.y, b.x0, b.dx, b.count}),
                  (std::vector<int>{a.y, a.x0, a.dx, a.count}))
            << "row " << i;
        ASSERT_EQ(own.pixels[i], lib.pixels[i]) << "row " << i << " (image row " << a.y << ")";
    }
}

class PngDecode : public Kvrac {};

TEST_F(PngDecode, EveryKindOfImageGivesTheRowsLibpngGives) {
    struct kind {
        int type, depth;
    };
    const kind kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                          {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    const int sizes[][2] = {{1, 1}, {7, 5}, {9, 11}, {33, 17}};
    int n = 0;
    for (const kind& k : kinds)
        for (int trns = 0; trns < (k.type == 4 || k.type == 6 ? 1 : 2); ++trns)
            for (bool interlaced : {false, true})
                for (const auto& s : sizes) {
                    corpus_image img{s[0], s[1], k.type, k.depth, interlaced, trns, n % 6};
                    const std::string name = "c" + std::to_string(n++) + ".png";
                    write_corpus_png(dir / name, img);
                    expect_same_rows(dir / name,
                                     "type " + std::to_string(k.type) + " depth " +
                                         std::to_string(k.depth) + (trns ? " tRNS" : "") +
                                         (interlaced ? " interlaced " : " ") +
                                         std::to_string(s[0]) + "x" + std::to_string(s[1]));
                }
    EXPECT_EQ(n, 4 * 2 * (11 * 2 + 4));
    // Larger images for each filter, where the predictors meet every kind of tie.
    for (int filter = 0; filter < 6; ++filter)
        for (const kind& k : {kind{2, 8}, kind{6, 16}, kind{3, 4}}) {
            write_corpus_png(dir / "f.png", {64, 48, k.type, k.depth, false, 1, filter});
            expect_same_rows(dir / "f.png", "filter " + std::to_string(filter) + " type " +
                                                std::to_string(k.type));
        }
}

// ---- Files put together chunk by chunk ----

std::string be32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (24 - 8 * i));
    return s;
}

std::string chunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size());
    return be32(static_cast<uint32_t>(data.size())) + body + be32(static_cast<uint32_t>(crc));
}

std::string ihdr(uint32_t w, uint32_t h, int depth, int type, int interlace = 0) {
    return chunk("IHDR", be32(w) + be32(h) +
                             std::string{static_cast<char>(depth), static_cast<char>(type), 0, 0,
                                         static_cast<char>(interlace)});
}

std::string deflated(const std::string& raw) {
    uLongf n = compressBound(raw.size());
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(raw.data()),
              raw.size(), 9);
    out.resize(n);
    return out;
}

const std::string signature("\x89PNG\r\n\x1A\n", 8);
const std::string iend = chunk("IEND", "");

// 4 x 3 greyscale, 8 bits, each row with a different filter.
const std::string grey_rows("\0\x10\x20\x30\x40"
                            "\1\x05\x01\x02\x03"
                            "\4\x07\x00\xF0\x11",
                            15);

std::string grey_file(const std::string& idat_data) {
    return signature + ihdr(4, 3, 8, 0) + chunk("IDAT", idat_data) + iend;
}

TEST_F(PngDecode, SplitDataAncillaryChunksAndLongPalettesReadAsLibpngReadsThem) {
    // The compressed data spread over IDAT chunks of one to five bytes and empty ones,
    // with ancillary chunks before and after it.
    const std::string z = deflated(grey_rows);
    std::string split = signature + ihdr(4, 3, 8, 0) + chunk("tEXt", std::string("a\0b", 3));
    for (size_t at = 0, k = 0; at < z.size(); ++k) {
        const size_t n = std::min(z.size() - at, k % 5 + 1);
        split += chunk("IDAT", z.substr(at, n)) + (k % 3 == 0 ? chunk("IDAT", "") : "");
        at += n;
    }
    write_file(dir / "split.png", split + chunk("zzZz", "anything") + iend);
    expect_same_rows(dir / "split.png", "split IDAT");

    // A 1-bit palette image with four PLTE entries (two past what it can index) and an
    // RGB image carrying a suggested palette.
    const std::string plte = chunk("PLTE", std::string("\x10\x20\x30\x40\x50\x60\1\2\3\4\5\6", 12));
    write_file(dir / "long.png", signature + ihdr(9, 2, 1, 3) + plte + chunk("tRNS", "\x80") +
                                     chunk("IDAT", deflated(std::string("\0\xA5\x80\0\x5A\0", 6))) +
                                     iend);
    expect_same_rows(dir / "long.png", "long palette");
    write_file(dir / "suggested.png",
               signature + ihdr(2, 1, 8, 2) + plte +
                   chunk("IDAT", deflated(std::string("\0\1\2\3\4\5\6", 7))) + iend);
    expect_same_rows(dir / "suggested.png", "RGB with PLTE");

    // One-bit greyscale whose rows carry set bits past the last pixel.
    write_file(dir / "padded.png",
               signature + ihdr(9, 2, 1, 0) +
                   chunk("IDAT", deflated(std::string("\0\xA5\xFF\0\x5A\x7F", 6))) + iend);
    expect_same_rows(dir / "padded.png", "padding bits");
}

// Decodes with our decoder; returns its error, empty when every row came.
std::string our_error(const fs::path& path) {
    return decode(path, true).error;
}

TEST_F(PngDecode, MalformedFilesAreRefusedWithTheirReason) {
    const std::string z = deflated(grey_rows);
    const std::string head = signature + ihdr(4, 3, 8, 0);
    std::string bad_filter = grey_rows;
    bad_filter[10] = 5;
    std::string bad_crc = grey_file(z);
    bad_crc[bad_crc.size() - 13] ^= 1; // last byte of the IDAT chunk's CRC
    std::string adler = z;
    adler.back() ^= 1;
    const std::string plte = chunk("PLTE", "\1\2\3\4\5\6");
    const std::string pal_idat = chunk("IDAT", deflated(std::string("\0\x80", 2)));
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"\x89PNG\r\n", "not a PNG file"},
        {bad_crc, "CRC error in IDAT chunk"},
        {grey_file(deflated(bad_filter)), "unknown filter type 5 in row 2"},
        {grey_file(deflated(grey_rows.substr(0, 12))), "image data ends early"},
        {grey_file(deflated(grey_rows + std::string(1, '\0'))),
         "more image data than the image holds"},
        {grey_file(z + "x"), "data after the end of the compressed image"},
        {grey_file(adler), "damaged image data (incorrect data check)"},
        {grey_file(z.substr(0, 10)), "image data ends early"},
        {head + chunk("IDAT", z), "file ends early"},
        {head + chunk("IDAT", z) + chunk("IEND", "x"), "IEND chunk of 1 bytes"},
        {head + chunk("IDAT", z) + chunk("IDAT", "z") + iend, "data after the end"},
        {signature + chunk("IHDR", std::string(12, '\1')), "IHDR chunk of 12 bytes"},
        {signature + chunk("tEXt", "") + ihdr(4, 3, 8, 0), "the first chunk is not IHDR"},
        {signature + ihdr(1000001, 1, 8, 0), "more than 1000000 pixels a side"},
        {signature + ihdr(1, 0x80000000u, 8, 0), "more than 1000000 pixels a side"},
        {signature + ihdr(0, 1, 8, 0), "image without pixels"},
        {signature + ihdr(1, 1, 8, 3) + pal_idat, "no PLTE chunk before the image data"},
        {signature + ihdr(1, 1, 2, 2), "invalid colour type 2 with bit depth 2"},
        {signature + ihdr(1, 1, 3, 0), "invalid colour type 0 with bit depth 3"},
        {signature + ihdr(1, 1, 8, 1), "invalid colour type 1 with bit depth 8"},
        {signature + ihdr(1, 1, 8, 0, 2), "unknown interlace method 2"},
        {head + chunk("CHNK", "") + chunk("IDAT", z) + iend, "unknown critical chunk CHNK"},
        {head + chunk("a1cd", "") + chunk("IDAT", z) + iend, "invalid chunk type"},
        {head + plte, "PLTE chunk in a greyscale image"},
        {head + chunk("tRNS", std::string("\1\0", 2)) + chunk("IDAT", z) + iend,
         "tRNS value beyond the bit depth"},
        {head + chunk("tRNS", "\1") + chunk("IDAT", z) + iend, "tRNS chunk of 1 bytes"},
        {signature + ihdr(1, 1, 8, 3) + chunk("tRNS", "\1") + plte, "tRNS chunk before PLTE"},
        {signature + ihdr(1, 1, 8, 3) + plte + chunk("tRNS", "\1\2\3"), "tRNS chunk of 3 bytes"},
        {signature + ihdr(1, 1, 8, 6) + chunk("tRNS", "\1"), "image with an alpha channel"},
        {signature + ihdr(1, 1, 2, 3) + plte + pal_idat + iend, "colour 2 is not in the palette"},
        {signature + ihdr(1, 1, 2, 3) + plte + plte, "a second PLTE chunk"},
        // Four colours for a one-bit image: the two it can index take three alphas.
        {signature + ihdr(1, 1, 1, 3) + chunk("PLTE", std::string(12, '\7')) +
             chunk("tRNS", "\1\2\3"),
         "tRNS chunk of 3 bytes for 2 colours"},
        {head + iend, "no image data"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path p = dir / ("bad" + std::to_string(n++) + ".png");
        write_file(p, c.bytes);
        const std::string error = our_error(p);
        EXPECT_NE(error.find(c.reason), std::string::npos) << "case " << n - 1 << ": " << error;
    }
}

TEST_F(PngDecode, HugeDimensionsWithoutDataFailAtTheFirstRow) {
    // The header is acceptable; the data is not there.
    write_file(dir / "huge.png", signature + ihdr(1000000, 1000000, 16, 6) +
                                     chunk("IDAT", deflated(std::string(100, '\0'))) + iend);
    png_reader r{};
    ASSERT_EQ(png_decode_open(r, dir / "huge.png"), 0) << r.error;
    png_row row;
    EXPECT_EQ(png_decode_next(r, &row), -1);
    EXPECT_NE(std::string(r.error).find("image data ends early"), std::string::npos) << r.error;
    EXPECT_EQ(png_decode_next(r, &row), -1); // and stays failed
    png_decode_close(r);
    png_decode_close(r); // harmless twice
}

TEST_F(PngDecode, EveryTruncationAndEveryChangedByteIsRefused) {
    corpus_image img{9, 5, 3, 4, true, 1, 5};
    write_corpus_png(dir / "good.png", img);
    const std::string good = slurp(dir / "good.png");
    ASSERT_EQ(our_error(dir / "good.png"), "");
    ASSERT_LT(good.size(), 400u);
    int accepted = 0;
    std::string first;
    auto try_file = [&](const std::string& bytes, const std::string& what) {
        write_file(dir / "t.png", bytes);
        if (our_error(dir / "t.png").empty()) {
            if (!accepted++) first = what;
        }
    };
    for (size_t n = 0; n < good.size(); ++n)
        try_file(good.substr(0, n), "cut at " + std::to_string(n));
    for (size_t i = 0; i < good.size(); ++i)
        for (int flip : {0x01, 0x80, 0xFF}) {
            std::string b = good;
            b[i] = static_cast<char>(b[i] ^ flip);
            try_file(b, "byte " + std::to_string(i) + " ^ " + std::to_string(flip));
        }
    EXPECT_EQ(accepted, 0) << "first accepted: " << first;
}

// ---- Both readers give the same verdict ----

struct png_chunk {
    std::string type, data;
};

// The chunks of a file (after the signature), as written; stops at a cut chunk.
std::vector<png_chunk> chunks_of(const std::string& file) {
    std::vector<png_chunk> out;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(file[at])) << 24 |
                           static_cast<uint8_t>(file[at + 1]) << 16 |
                           static_cast<uint8_t>(file[at + 2]) << 8 |
                           static_cast<uint8_t>(file[at + 3]);
        if (at + 12 + n > file.size()) break;
        out.push_back({file.substr(at + 4, 4), file.substr(at + 8, n)});
        at += 12 + n;
    }
    return out;
}

std::string file_of(const std::vector<png_chunk>& chunks) {
    std::string out = signature;
    for (const png_chunk& c : chunks) out += chunk(c.type, c.data);
    return out;
}

// Reads the file with both readers: the verdicts must agree, and so must the rows when
// both accept it. Returns true when accepted.
bool same_verdict(const fs::path& dir, const std::string& bytes, const std::string& what) {
    SCOPED_TRACE(what);
    write_file(dir / "v.png", bytes);
    const decoded lib = decode(dir / "v.png", false), own = decode(dir / "v.png", true);
    EXPECT_EQ(lib.error.empty(), own.error.empty())
        << "libpng: '" << lib.error << "', decoder: '" << own.error << "'";
    if (lib.error.empty() && own.error.empty()) {
        EXPECT_EQ(own.rows.size(), lib.rows.size());
        EXPECT_EQ(own.pixels, lib.pixels);
    }
    return lib.error.empty();
}

TEST_F(PngDecode, BothReadersAcceptAndRefuseTheSameDamagedFiles) {
    const std::string z = deflated(grey_rows);
    const std::string head = signature + ihdr(4, 3, 8, 0);
    const std::string idat = chunk("IDAT", z);
    const std::string plte = chunk("PLTE", "\1\2\3\4\5\6");
    std::string bad_last_crc = head + chunk("IDAT", z.substr(0, 5)) + idat.substr(0, 0) +
                               chunk("IDAT", z.substr(5)) + iend;
    bad_last_crc[bad_last_crc.size() - 13] ^= 1; // the last IDAT chunk's CRC
    std::string bad_text_crc = head + chunk("tEXt", std::string("a\0b", 3)) + idat + iend;
    bad_text_crc[head.size() + 10] ^= 1;
    std::string adler = z;
    adler.back() ^= 1;
    // The compressed stream's last four bytes (its checksum) in IDAT chunks of their own.
    const std::string tail_split = head + chunk("IDAT", z.substr(0, z.size() - 4)) +
                                   chunk("IDAT", z.substr(z.size() - 4, 2)) +
                                   chunk("IDAT", z.substr(z.size() - 2)) + iend;
    const struct {
        std::string bytes;
        bool accepted;
        const char* what;
    } cases[] = {
        {head + idat, false, "IEND missing"},
        {head + idat + chunk("IEND", "x"), false, "IEND of nonzero length"},
        {signature + ihdr(1, 1, 2, 3) + plte + chunk("IDAT", deflated(std::string("\0\x80", 2))) +
             iend,
         false, "palette index beyond PLTE"},
        {bad_last_crc, false, "CRC error in the last IDAT"},
        {head + idat + ihdr(4, 3, 8, 0) + iend, false, "IHDR after the data"},
        {signature + ihdr(1, 1, 8, 2) + chunk("IDAT", deflated(std::string(4, '\0'))) + plte + iend,
         false, "PLTE after the data"},
        {head + idat + chunk("tRNS", std::string("\0\1", 2)) + iend, false, "tRNS after the data"},
        {head + idat + chunk("CRIT", "") + iend, false, "unknown critical chunk after the data"},
        {head + idat + chunk("crIt", "x") + iend, true, "unknown ancillary chunk after the data"},
        {head + chunk("gAMA", "\1\2\3") + chunk("sRGB", "\7") + chunk("pHYs", "") + idat + iend,
         true, "known ancillary chunks of wrong sizes, which nothing uses"},
        {bad_text_crc, false, "CRC error in an ancillary chunk"},
        {signature + chunk("tEXt", std::string("a\0b", 3)) + ihdr(4, 3, 8, 0) + idat + iend, false,
         "a chunk before IHDR"},
        {tail_split, true, "checksum in IDAT chunks of its own"},
        {head + idat + chunk("IDAT", "z") + iend, false, "IDAT data after the stream's end"},
        {head + chunk("IDAT", z + "z") + iend, false, "bytes after the stream's end"},
        {head + idat + chunk("IDAT", "") + iend, true, "an empty IDAT after the data"},
        {head + idat + chunk("teXt", "") + chunk("IDAT", "") + iend, false,
         "an IDAT after another chunk after the data"},
        {head + chunk("tRNS", std::string("\1\0", 2)) + idat + iend, false,
         "transparent grey beyond the bit depth"},
        {signature + ihdr(2, 1, 8, 2) + chunk("tRNS", std::string(6, '\0')) + plte +
             chunk("IDAT", deflated(std::string("\0\1\2\3\4\5\6", 7))) + iend,
         false, "PLTE after tRNS"},
        {grey_file(adler), false, "a damaged checksum"},
        {grey_file(deflated(grey_rows + std::string(1, '\0'))), false, "more data than rows"},
        {grey_file(deflated(grey_rows.substr(0, 12))), false, "fewer data than rows"},
    };
    for (const auto& c : cases) EXPECT_EQ(same_verdict(dir, c.bytes, c.what), c.accepted) << c.what;

    // Damage generated from sound files of several kinds: every cut, every byte changed
    // three ways, and chunks dropped, repeated, swapped and inserted everywhere.
    std::vector<std::string> sound = {grey_file(z), tail_split};
    for (const corpus_image& img :
         {corpus_image{5, 3, 3, 2, false, 1, 5}, corpus_image{6, 5, 0, 1, true, 1, 5},
          corpus_image{3, 2, 6, 16, false, 0, 4}}) {
        write_corpus_png(dir / "sound.png", img);
        sound.push_back(slurp(dir / "sound.png"));
    }
    const std::vector<png_chunk> extra = {
        {"CRIT", ""},       {"crIt", "x"},  {"IHDR", std::string(13, '\1')},
        {"PLTE", "\1\2\3"}, {"tRNS", "\0"}, {"IDAT", ""},
        {"IDAT", "x"},      {"IEND", ""},   {"IEND", "x"}};
    int files = 0, accepted = 0;
    for (const std::string& good : sound) {
        ASSERT_TRUE(same_verdict(dir, good, "sound file " + std::to_string(files)));
        for (size_t n = 0; n < good.size(); ++n)
            accepted += same_verdict(dir, good.substr(0, n), "cut at " + std::to_string(n));
        for (size_t i = 0; i < good.size(); ++i)
            for (int flip : {0x01, 0x20, 0xFF}) {
                std::string b = good;
                b[i] = static_cast<char>(b[i] ^ flip);
                accepted += same_verdict(dir, b, "byte " + std::to_string(i));
            }
        const std::vector<png_chunk> chunks = chunks_of(good);
        for (size_t i = 0; i < chunks.size(); ++i) {
            auto dropped = chunks, repeated = chunks, swapped = chunks;
            dropped.erase(dropped.begin() + static_cast<long>(i));
            repeated.insert(repeated.begin() + static_cast<long>(i), chunks[i]);
            if (i + 1 < chunks.size()) std::swap(swapped[i], swapped[i + 1]);
            accepted +=
                same_verdict(dir, file_of(dropped), "chunk " + std::to_string(i) + " dropped");
            accepted +=
                same_verdict(dir, file_of(repeated), "chunk " + std::to_string(i) + " twice");
            accepted +=
                same_verdict(dir, file_of(swapped), "chunk " + std::to_string(i) + " swapped");
        }
        for (size_t i = 0; i <= chunks.size(); ++i)
            for (const png_chunk& e : extra) {
                auto inserted = chunks;
                inserted.insert(inserted.begin() + static_cast<long>(i), e);
                accepted += same_verdict(dir, file_of(inserted),
                                         e.type + " inserted at " + std::to_string(i));
            }
        ++files;
    }
    // Some damage leaves a sound file (an ancillary chunk repeated, an empty IDAT after
    // the data); most does not.
    EXPECT_GT(accepted, 0);
}

} // namespace

#endif
