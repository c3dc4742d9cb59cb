#include "core/image/io.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <spng.h>

namespace quillet {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
    std::uint8_t r, g, b;
};

// Colours with distinct luma, including the extremes of each channel.
const std::vector<Rgb> kColours = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0},
                                   {0, 0, 255}, {12, 200, 99}, {180, 40, 220}, {77, 77, 77}};

// BT.601 luma computed independently in double precision; the loader's 8-bit fixed point
// may differ from its rounding by one.
int bt601(const Rgb& c) { return static_cast<int>(std::lround(0.299 * c.r + 0.587 * c.g + 0.114 * c.b)); }

Bytes read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_all(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct PngSpec {
    std::uint32_t width, height;
    std::uint8_t color_type, bit_depth;
    Bytes samples;  // SPNG_FMT_PNG layout: packed rows, 16-bit samples in host order
    std::vector<Rgb> palette;
};

void write_png(const fs::path& path, const PngSpec& png) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_png_file(ctx, file);
    spng_ihdr ihdr{png.width, png.height, png.bit_depth, png.color_type, 0, 0, 0};
    ASSERT_EQ(spng_set_ihdr(ctx, &ihdr), 0);
    if (!png.palette.empty()) {
        spng_plte plte{};
        plte.n_entries = static_cast<std::uint32_t>(png.palette.size());
        for (std::size_t i = 0; i < png.palette.size(); ++i)
            plte.entries[i] = {png.palette[i].r, png.palette[i].g, png.palette[i].b, 255};
        ASSERT_EQ(spng_set_plte(ctx, &plte), 0);
    }
    int rc = spng_encode_image(ctx, png.samples.data(), png.samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    spng_ctx_free(ctx);
    std::fclose(file);
    ASSERT_EQ(rc, 0) << spng_strerror(rc);
}

void write_jpeg(const fs::path& path, std::uint32_t width, std::uint32_t height, int components, const Bytes& samples) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t row_bytes = std::size_t{width} * static_cast<std::size_t>(components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(samples.data() + cinfo.next_scanline * row_bytes);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

std::uint32_t crc32(const Bytes& bytes) {
    std::uint32_t crc = 0xffffffffu;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void append_be32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A PNG signature and a well-formed IHDR chunk (8-bit gray), and nothing else.
Bytes png_header_only(std::uint32_t width, std::uint32_t height) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    append_be32(out, 13);
    Bytes chunk = {'I', 'H', 'D', 'R'};
    append_be32(chunk, width);
    append_be32(chunk, height);
    chunk.insert(chunk.end(), {8, 0, 0, 0, 0});
    out.insert(out.end(), chunk.begin(), chunk.end());
    append_be32(out, crc32(chunk));
    return out;
}

Bytes gray_ramp(std::size_t n) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((i * 37 + 5) % 256);
    return out;
}

class LoadGrayImage : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quillet_io_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path path(const std::string& name) const { return dir_ / name; }

    // Writes a small 8-bit gray PNG and returns its pixels.
    Bytes write_gray_png(const fs::path& p) const {
        Bytes pixels = gray_ramp(5 * 3);
        write_png(p, {5, 3, SPNG_COLOR_TYPE_GRAYSCALE, 8, pixels, {}});
        return pixels;
    }

    std::string load_error(const fs::path& p) const {
        auto image = load_gray_image(p.string());
        if (image) return "loaded unexpectedly";
        EXPECT_TRUE(image.error().is<err::ImageIo>()) << image.error().message();
        return image.error().message();
    }

    fs::path dir_;
};

TEST_F(LoadGrayImage, Gray8LoadsUnchanged) {
    const Bytes pixels = write_gray_png(path("gray.png"));
    auto image = load_gray_image(path("gray.png").string());
    ASSERT_TRUE(image) << image.error().message();
    EXPECT_EQ(image->width(), 5u);
    EXPECT_EQ(image->height(), 3u);
    EXPECT_EQ(image->data(), pixels);
}

TEST_F(LoadGrayImage, ColourLayoutsBecomeLuminance) {
    const std::uint32_t w = static_cast<std::uint32_t>(kColours.size()), h = 2;
    Bytes rgb, rgba, indexed, gray_alpha, gray_expected;
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const Rgb& c = kColours[x];
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
            rgba.insert(rgba.end(), {c.r, c.g, c.b, static_cast<std::uint8_t>(y == 0 ? 0 : 128)});
            indexed.push_back(static_cast<std::uint8_t>(x));
            gray_alpha.insert(gray_alpha.end(), {c.g, static_cast<std::uint8_t>(x * 30)});
            gray_expected.push_back(c.g);
        }
    }
    struct Case {
        const char* name;
        PngSpec png;
        bool from_colours;  // expect BT.601 luma of kColours, else gray_expected exactly
    };
    const Case cases[] = {
        {"rgb.png", {w, h, SPNG_COLOR_TYPE_TRUECOLOR, 8, rgb, {}}, true},
        {"rgba.png", {w, h, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, rgba, {}}, true},
        {"palette.png", {w, h, SPNG_COLOR_TYPE_INDEXED, 8, indexed, kColours}, true},
        {"gray_alpha.png", {w, h, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8, gray_alpha, {}}, false},
    };
    for (const Case& c : cases) {
        write_png(path(c.name), c.png);
        auto image = load_gray_image(path(c.name).string());
        ASSERT_TRUE(image) << c.name << ": " << image.error().message();
        ASSERT_EQ(image->width(), w) << c.name;
        ASSERT_EQ(image->height(), h) << c.name;
        for (std::size_t i = 0; i < image->data().size(); ++i) {
            const int got = image->data()[i];
            if (c.from_colours)
                EXPECT_NEAR(got, bt601(kColours[i % w]), 1) << c.name << " pixel " << i;
            else
                EXPECT_EQ(got, gray_expected[i]) << c.name << " pixel " << i;
        }
    }
}

TEST_F(LoadGrayImage, Gray16KeepsHighByte) {
    const std::vector<std::uint16_t> samples = {0x0000, 0xffff, 0x1234, 0x12ff, 0x8000, 0x7fff};
    Bytes raw(samples.size() * 2);
    std::memcpy(raw.data(), samples.data(), raw.size());
    write_png(path("gray16.png"), {3, 2, SPNG_COLOR_TYPE_GRAYSCALE, 16, raw, {}});
    auto image = load_gray_image(path("gray16.png").string());
    ASSERT_TRUE(image) << image.error().message();
    EXPECT_EQ(image->data(), (Bytes{0x00, 0xff, 0x12, 0x12, 0x80, 0x7f}));
}

TEST_F(LoadGrayImage, JpegLoadsAsLuminance) {
    // Flat images survive JPEG coding at quality 100 up to rounding.
    const std::uint32_t w = 16, h = 8;
    write_jpeg(path("gray.jpg"), w, h, 1, Bytes(w * h, 100));
    const Rgb colour{180, 40, 220};
    Bytes rgb;
    for (std::uint32_t i = 0; i < w * h; ++i) rgb.insert(rgb.end(), {colour.r, colour.g, colour.b});
    write_jpeg(path("rgb.jpeg"), w, h, 3, rgb);

    auto gray = load_gray_image(path("gray.jpg").string());
    ASSERT_TRUE(gray) << gray.error().message();
    EXPECT_EQ(gray->width(), w);
    EXPECT_EQ(gray->height(), h);
    for (std::uint8_t v : gray->data()) EXPECT_NEAR(v, 100, 1);

    auto colour_image = load_gray_image(path("rgb.jpeg").string());
    ASSERT_TRUE(colour_image) << colour_image.error().message();
    EXPECT_EQ(colour_image->data().size(), std::size_t{w} * h);
    for (std::uint8_t v : colour_image->data()) EXPECT_NEAR(v, bt601(colour), 2);
}

TEST_F(LoadGrayImage, ExtensionCaseIsIgnored) {
    const Bytes pixels = write_gray_png(path("upper.PNG"));
    auto png = load_gray_image(path("upper.PNG").string());
    ASSERT_TRUE(png) << png.error().message();
    EXPECT_EQ(png->data(), pixels);

    write_jpeg(path("upper.JpEg"), 8, 8, 1, Bytes(64, 50));
    auto jpeg = load_gray_image(path("upper.JpEg").string());
    ASSERT_TRUE(jpeg) << jpeg.error().message();
    EXPECT_EQ(jpeg->width(), 8u);
}

TEST_F(LoadGrayImage, FormatComesFromTheNameNotTheContent) {
    for (const char* name : {"image.bmp", "image.png.txt", "no_extension"}) {
        write_gray_png(path(name));
        EXPECT_EQ(load_error(path(name)).rfind("image io error: the image format could not be determined", 0), 0u) << name;
    }
    write_gray_png(path("png_named.jpg"));
    EXPECT_EQ(load_error(path("png_named.jpg")).rfind("image io error: JPEG decoder: ", 0), 0u);
}

TEST_F(LoadGrayImage, OperatingSystemErrorsCarryTheirNumber) {
    EXPECT_EQ(load_error(path("missing.png")), "image io error: No such file or directory (os error 2)");
    fs::create_directory(path("folder.png"));
    EXPECT_EQ(load_error(path("folder.png")), "image io error: Is a directory (os error 21)");
    EXPECT_EQ(load_error(path("gray.png").string() + std::string(1, '\0') + ".png"),
              "image io error: file name contains a NUL byte");
}

TEST_F(LoadGrayImage, TruncatedFilesFail) {
    write_png(path("full.png"), {64, 64, SPNG_COLOR_TYPE_GRAYSCALE, 8, gray_ramp(64 * 64), {}});
    write_jpeg(path("full.jpg"), 64, 64, 1, gray_ramp(64 * 64));
    for (const char* name : {"full.png", "full.jpg"}) {
        Bytes bytes = read_all(path(name));
        ASSERT_GT(bytes.size(), 100u);
        for (std::size_t keep : {bytes.size() / 2, std::size_t{20}, std::size_t{0}}) {
            const std::string cut = std::string("cut_") + std::to_string(keep) + fs::path(name).extension().string();
            write_all(path(cut), Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep)));
            const std::string message = load_error(path(cut));
            EXPECT_EQ(message.rfind("image io error: ", 0), 0u) << cut << ": " << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << cut;
        }
    }
}

TEST_F(LoadGrayImage, AbsurdSizesAreRefusedBeforeDecoding) {
    write_all(path("huge.png"), png_header_only(60000, 60000));
    EXPECT_EQ(load_error(path("huge.png")), "image io error: image of 60000 x 60000 pixels exceeds the limit of 67108864 pixels");
    write_all(path("too_wide.png"), png_header_only(0x7fffffff, 1));
    EXPECT_EQ(load_error(path("too_wide.png")).rfind("image io error: PNG decoder: ", 0), 0u);

    // A real JPEG whose frame header is patched to claim 60000 x 60000 pixels.
    write_jpeg(path("small.jpg"), 8, 8, 1, Bytes(64, 10));
    Bytes jpeg = read_all(path("small.jpg"));
    bool patched = false;
    for (std::size_t i = 0; i + 8 < jpeg.size() && !patched; ++i) {
        if (jpeg[i] == 0xff && jpeg[i + 1] == 0xc0) {  // baseline frame header
            jpeg[i + 5] = 0xea, jpeg[i + 6] = 0x60;      // height 60000
            jpeg[i + 7] = 0xea, jpeg[i + 8] = 0x60;      // width 60000
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    write_all(path("huge.jpg"), jpeg);
    EXPECT_EQ(load_error(path("huge.jpg")),
              "image io error: image of 60000 x 60000 pixels exceeds the limit of 67108864 pixels");
}

TEST(OwnedFromDynamicImage, ValidatesTheBufferAgainstTheSize) {
    auto ok = owned_from_dynamic_image({Bytes(6, 1), 3, 2});
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->stride(), 3u);
    EXPECT_EQ(owned_from_dynamic_image({Bytes(5), 3, 2}).error().message(), "buffer too small: needed=6 got=5");
    EXPECT_EQ(owned_from_dynamic_image({Bytes(7), 3, 2}).error().message(), "invalid dimensions: width=3 height=2");
    EXPECT_EQ(owned_from_dynamic_image({Bytes{}, 0, 2}).error().message(), "invalid dimensions: width=0 height=2");
}

}  // namespace
}  // namespace quillet
