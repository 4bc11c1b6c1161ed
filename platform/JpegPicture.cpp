#include "platform/JpegPicture.h"

#include <csetjmp>
#include <vector>

#include <jpeglib.h>

namespace platform {

namespace {

// Everything libjpeg works on for one file. Plain data only: libjpeg reports an error by
// calling error_exit, which jumps back to the setjmp of the function that called into it,
// past libjpeg's own frames; no object with a destructor may be skipped on the way.
struct JpegJob {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    std::jmp_buf escape;
};

extern "C" {

// An error ends the decoding, not the program (libjpeg's default handler exits).
static void EscapeFromJpeg(j_common_ptr info) {
    std::longjmp(static_cast<JpegJob*>(info->client_data)->escape, 1);
}

// Warnings (a file cut short, a damaged marker) are not printed; libjpeg decodes what it can.
static void IgnoreJpegMessage(j_common_ptr) {}

}  // extern "C"

// The functions below call into libjpeg under a setjmp. They hold no object with a
// destructor and read no local variable after the jump back.

bool JpegReadHeader(JpegJob* job, std::FILE* file) {
    if (setjmp(job->escape) != 0) {
        return false;
    }
    jpeg_create_decompress(&job->info);
    job->info.mem->max_memory_to_use = kMaxJpegWorkingMemory;
    jpeg_stdio_src(&job->info, file);
    return jpeg_read_header(&job->info, TRUE) == JPEG_HEADER_OK;
}

// Decodes every row into rgb, which holds width by height pixels as the output will be;
// cmykRow holds one row of four bytes a pixel when the file is in CMYK.
bool JpegReadRows(JpegJob* job, JDIMENSION width, JDIMENSION height, unsigned char* rgb,
                  unsigned char* cmykRow) {
    if (setjmp(job->escape) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = job->info;
    if (!jpeg_start_decompress(&info) || info.output_width != width ||
        info.output_height != height ||
        info.output_components != (info.out_color_space == JCS_CMYK ? 4 : 3)) {
        return false;
    }
    while (info.output_scanline < height) {
        unsigned char* out = rgb + static_cast<std::size_t>(info.output_scanline) * width * 3;
        JSAMPROW row = cmykRow != nullptr ? cmykRow : out;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            return false;
        }
        if (cmykRow != nullptr) {
            // Adobe's files store the inks inverted: 255 is no ink.
            const bool inverted = info.saw_Adobe_marker;
            for (JDIMENSION x = 0; x < width; ++x) {
                const unsigned char* ink = cmykRow + x * 4;
                const unsigned k = inverted ? ink[3] : 255 - ink[3];
                for (int c = 0; c < 3; ++c) {
                    const unsigned clear = inverted ? ink[c] : 255 - ink[c];
                    out[x * 3 + c] = static_cast<unsigned char>((clear * k + 127) / 255);
                }
            }
        }
    }
    return true;
}

// libjpeg's size of one side at scale eighths/8.
JDIMENSION ScaledSide(JDIMENSION side, int eighths) {
    return static_cast<JDIMENSION>((static_cast<std::uint64_t>(side) * eighths + 7) / 8);
}

// Releases libjpeg's memory however decoding ended.
class JpegJobOwner {
public:
    JpegJobOwner() : m_job{} {
        m_job.info.err = jpeg_std_error(&m_job.errors);
        m_job.errors.error_exit = EscapeFromJpeg;
        m_job.errors.output_message = IgnoreJpegMessage;
        m_job.info.client_data = &m_job;
    }
    ~JpegJobOwner() { jpeg_destroy_decompress(&m_job.info); }  // harmless if never created
    JpegJobOwner(const JpegJobOwner&) = delete;
    JpegJobOwner& operator=(const JpegJobOwner&) = delete;

    JpegJob* Job() { return &m_job; }

private:
    JpegJob m_job;
};

}  // namespace

bool StartsLikeJpeg(const unsigned char* bytes, std::size_t count) {
    return count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8;
}

std::optional<wxImage> DecodeJpegReduced(std::FILE* file, int leastSide) {
    JpegJobOwner owner;
    JpegJob* job = owner.Job();
    if (!JpegReadHeader(job, file)) {
        return std::nullopt;
    }
    jpeg_decompress_struct& info = job->info;
    const std::uint64_t pixels = static_cast<std::uint64_t>(info.image_width) * info.image_height;
    if (info.image_width == 0 || info.image_height == 0 || pixels > kMaxJpegPixels) {
        return std::nullopt;
    }
    const auto least = static_cast<JDIMENSION>(leastSide > 0 ? leastSide : 1);
    int eighths = 1;
    while (eighths < 8 && (ScaledSide(info.image_width, eighths) < least ||
                           ScaledSide(info.image_height, eighths) < least)) {
        ++eighths;
    }
    info.scale_num = static_cast<unsigned>(eighths);
    info.scale_denom = 8;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    const JDIMENSION width = ScaledSide(info.image_width, eighths);
    const JDIMENSION height = ScaledSide(info.image_height, eighths);

    wxImage image(static_cast<int>(width), static_cast<int>(height), false);
    if (!image.IsOk()) {
        return std::nullopt;
    }
    std::vector<unsigned char> cmykRow(cmyk ? static_cast<std::size_t>(width) * 4 : 0);
    if (!JpegReadRows(job, width, height, image.GetData(), cmyk ? cmykRow.data() : nullptr)) {
        return std::nullopt;
    }
    return image;
}

}  // namespace platform
