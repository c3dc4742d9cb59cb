#include "core/image/io.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <spng.h>

namespace quillet {

namespace {

// Ancillary PNG chunks (text, ICC profiles, ...) are held in memory while decoding; a file
// may not make the decoder keep more than this. Pixel data is streamed and not counted here.
constexpr std::size_t kPngChunkLimit = std::size_t{16} << 20;
constexpr std::size_t kPngChunkCacheLimit = std::size_t{64} << 20;
// Working memory libjpeg may take beyond the output (coefficient buffers of progressive files).
constexpr long kJpegMemoryLimit = 512L << 20;

enum class FileFormat { Png, Jpeg };

std::unexpected<QuilletError> image_io(std::string reason) { return fail(err::ImageIo{std::move(reason)}); }

// The operating system's message followed by the error number, e.g.
// "No such file or directory (os error 2)".
std::string os_error_text(int code) {
    return std::generic_category().message(code) + " (os error " + std::to_string(code) + ")";
}

std::optional<FileFormat> format_from_extension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == ".png") return FileFormat::Png;
    if (ext == ".jpg" || ext == ".jpeg") return FileFormat::Jpeg;
    return std::nullopt;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

Result<File> open_for_reading(const std::string& path) {
    // The C library would silently open the shorter name up to the first NUL.
    if (path.find('\0') != std::string::npos) return image_io("file name contains a NUL byte");
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return image_io(os_error_text(errno));
    // A directory opens fine but fails on the first read with a less helpful message.
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0) return image_io(os_error_text(errno));
    if (S_ISDIR(st.st_mode)) return image_io(os_error_text(EISDIR));
    return file;
}

Status check_pixel_count(std::uint64_t width, std::uint64_t height) {
    if (width * height <= kMaxLoadPixels) return {};
    return image_io("image of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels exceeds the limit of " + std::to_string(kMaxLoadPixels) + " pixels");
}

// ITU-R BT.601 luma in 8-bit fixed point. The weights sum to 256, so R = G = B = v gives v.
std::vector<std::uint8_t> luma_from_rgba8(const std::vector<std::uint8_t>& rgba) {
    std::vector<std::uint8_t> luma(rgba.size() / 4);
    for (std::size_t i = 0; i < luma.size(); ++i) {
        const std::uint32_t r = rgba[4 * i], g = rgba[4 * i + 1], b = rgba[4 * i + 2];
        luma[i] = static_cast<std::uint8_t>((77 * r + 150 * g + 29 * b + 128) >> 8);
    }
    return luma;
}

std::unexpected<QuilletError> png_error(int code) { return image_io(std::string("PNG decoder: ") + spng_strerror(code)); }

// Every PNG layout (gray, gray + alpha, RGB, RGBA, palette; 1 to 16 bits) is expanded by the
// decoder to 8-bit RGBA, which reduces 16-bit samples to their high byte, then reduced to luma.
Result<LumaImage> decode_png(std::FILE* file) {
    std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
    if (!ctx) throw std::bad_alloc();
    constexpr auto kMaxSide = static_cast<std::uint32_t>(kMaxLoadPixels);
    if (int rc = spng_set_image_limits(ctx.get(), kMaxSide, kMaxSide)) return png_error(rc);
    if (int rc = spng_set_chunk_limits(ctx.get(), kPngChunkLimit, kPngChunkCacheLimit)) return png_error(rc);
    if (int rc = spng_set_png_file(ctx.get(), file)) return png_error(rc);

    spng_ihdr ihdr{};
    if (int rc = spng_get_ihdr(ctx.get(), &ihdr)) return png_error(rc);
    if (auto ok = check_pixel_count(ihdr.width, ihdr.height); !ok) return std::unexpected(ok.error());

    std::size_t len = 0;
    if (int rc = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &len)) return png_error(rc);
    std::vector<std::uint8_t> rgba(len);
    if (int rc = spng_decode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8, 0)) return png_error(rc);
    return LumaImage{luma_from_rgba8(rgba), ihdr.width, ihdr.height};
}

// libjpeg reports fatal errors through error_exit, which must not return; it jumps back into
// run_jpeg_decode instead. The manager must be the first member: libjpeg hands back its address.
struct JpegErrorJump {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Lives in the caller's frame so that nothing the jump skips over has a destructor to run.
struct JpegSession {
    jpeg_decompress_struct cinfo;
    JpegErrorJump err;
};

[[noreturn]] void jpeg_error_exit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorJump*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (level -1) mean corrupt or truncated data, which libjpeg would otherwise patch over
// with gray pixels: refuse the file instead. Trace messages (level >= 0) are ignored.
void jpeg_emit_message(j_common_ptr cinfo, int level) {
    if (level < 0) jpeg_error_exit(cinfo);
}

enum class JpegOutcome { Decoded, TooLarge, Failed };

// Decodes into `out`. TooLarge leaves only out.width and out.height set; Failed leaves the
// reason in s.err.message. No object with a destructor may be alive across a libjpeg call
// here, since a jump back to setjmp would skip it.
JpegOutcome run_jpeg_decode(JpegSession& s, std::FILE* file, LumaImage& out) {
    s.cinfo.err = jpeg_std_error(&s.err.mgr);
    s.err.mgr.error_exit = jpeg_error_exit;
    s.err.mgr.emit_message = jpeg_emit_message;
    if (setjmp(s.err.jump)) {
        jpeg_destroy_decompress(&s.cinfo);
        return JpegOutcome::Failed;
    }
    jpeg_create_decompress(&s.cinfo);
    s.cinfo.mem->max_memory_to_use = kJpegMemoryLimit;
    jpeg_stdio_src(&s.cinfo, file);
    jpeg_read_header(&s.cinfo, TRUE);
    out.width = s.cinfo.image_width;
    out.height = s.cinfo.image_height;
    const std::uint64_t pixels = std::uint64_t{out.width} * out.height;
    if (pixels > kMaxLoadPixels) {
        jpeg_destroy_decompress(&s.cinfo);
        return JpegOutcome::TooLarge;
    }
    s.cinfo.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&s.cinfo);
    try {
        out.pixels.resize(pixels);
    } catch (...) {
        jpeg_destroy_decompress(&s.cinfo);
        throw;
    }
    while (s.cinfo.output_scanline < s.cinfo.output_height) {
        JSAMPROW row = out.pixels.data() + std::size_t{s.cinfo.output_scanline} * out.width;
        jpeg_read_scanlines(&s.cinfo, &row, 1);
    }
    // Every row is in; whatever follows the last scan (normally just the end marker) is not read.
    jpeg_destroy_decompress(&s.cinfo);
    return JpegOutcome::Decoded;
}

Result<LumaImage> decode_jpeg(std::FILE* file) {
    auto session = std::make_unique<JpegSession>();  // zeroed: destroying it is safe at any point
    LumaImage out;
    switch (run_jpeg_decode(*session, file, out)) {
        case JpegOutcome::Decoded: return out;
        case JpegOutcome::TooLarge: return std::unexpected(check_pixel_count(out.width, out.height).error());
        case JpegOutcome::Failed: break;
    }
    return image_io(std::string("JPEG decoder: ") + session->err.message);
}

Result<LumaImage> decode_file(const std::string& path) {
    auto file = open_for_reading(path);
    if (!file) return std::unexpected(file.error());
    auto format = format_from_extension(path);
    if (!format) return image_io("the image format could not be determined from the file extension (expected .png, .jpg or .jpeg)");
    return *format == FileFormat::Png ? decode_png(file->get()) : decode_jpeg(file->get());
}

}  // namespace

Result<OwnedImage> owned_from_dynamic_image(LumaImage image) {
    return OwnedImage::create(std::move(image.pixels), image.width, image.height);
}

Result<OwnedImage> load_gray_image(const std::string& path) {
    auto decoded = decode_file(path);
    if (!decoded) return std::unexpected(decoded.error());
    return owned_from_dynamic_image(std::move(*decoded));
}

}  // namespace quillet
