#include "gdal/kavel_create_copy.h"

#include <cpl_string.h>
#include <cpl_vsi.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "encode/encoder.h"
#include "gdal/kavel_dataset.h"

namespace kavel_gdal {

const char kCreationOptionList[] =
    "<CreationOptionList>"
    "<Option name='QUALITY' type='float' min='1' max='100' default='75' "
    "description='1..100, 100 finest (75: about 1.5 bits per pixel on photographs)'/>"
    "<Option name='BPP' type='float' "
    "description='target size in bits per pixel (instead of QUALITY)'/>"
    "<Option name='LEVELS' type='int' min='0' "
    "description='wavelet levels, readable scales 0..LEVELS (default: until the smallest "
    "scale is below 64 pixels)'/>"
    "</CreationOptionList>";

namespace {

GDALDataset* fail(const std::string& message) {
    CPLError(CE_Failure, CPLE_AppDefined, "KAVEL: %s", message.c_str());
    return nullptr;
}

bool parse_number(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    const double v = CPLStrtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || v < low || v > high) return false;
    *value = v;
    return true;
}

// The encoder's options from the creation options; false (with *error) for a bad one.
bool encoder_options(char** options, kavel::EncoderOptions* out, std::string* error) {
    const char* quality = CSLFetchNameValue(options, "QUALITY");
    const char* bpp = CSLFetchNameValue(options, "BPP");
    const char* levels = CSLFetchNameValue(options, "LEVELS");
    if (quality != nullptr && bpp != nullptr) {
        *error = "give only one of QUALITY and BPP";
        return false;
    }
    if (quality != nullptr) {
        if (!parse_number(quality, 1, 100, &out->quality)) {
            *error = std::string("QUALITY wants a number 1..100, not '") + quality + "'";
            return false;
        }
        out->mode = kavel::RateMode::quality;
    }
    if (bpp != nullptr) {
        if (!parse_number(bpp, 1e-4, 64, &out->bpp)) {
            *error = std::string("BPP wants a number above 0 and up to 64, not '") + bpp + "'";
            return false;
        }
        out->mode = kavel::RateMode::bpp;
    }
    if (levels != nullptr) {
        double n = 0;
        if (!parse_number(levels, 0, kavel::kMaxLevelCount, &n) || n != std::floor(n)) {
            *error = std::string("LEVELS wants an integer 0..") +
                     std::to_string(kavel::kMaxLevelCount) + ", not '" + levels + "'";
            return false;
        }
        out->levels = static_cast<int32_t>(n);
    }
    return true;
}

bool report(GDALProgressFunc progress, void* data, double done, const char* what) {
    if (progress(done, what, data)) return true;
    CPLError(CE_Failure, CPLE_UserInterrupt, "User terminated CreateCopy()");
    return false;
}

}  // namespace

GDALDataset* create_copy(const char* filename, GDALDataset* source, int strict, char** options,
                         GDALProgressFunc progress, void* progress_data) {
    if (progress == nullptr) progress = GDALDummyProgress;
    kavel::EncoderOptions encoder;
    std::string error;
    if (!encoder_options(options, &encoder, &error)) return fail(error);

    const int bands = source->GetRasterCount();
    const int channels = bands >= 3 ? 3 : 1;
    if (bands != 1 && bands != 3) {
        if (bands != 2 && bands != 4)
            return fail("a Kavel file holds 1 (grey) or 3 (colour) bands, not " +
                        std::to_string(bands));
        if (strict) return fail("band " + std::to_string(bands) + " (alpha) cannot be kept");
        CPLError(CE_Warning, CPLE_AppDefined, "KAVEL: band %d (alpha) is dropped", bands);
    }
    for (int band = 1; band <= channels; ++band) {
        if (source->GetRasterBand(band)->GetRasterDataType() == GDT_Byte) continue;
        if (strict) return fail("only Byte bands can be written");
        CPLError(CE_Warning, CPLE_AppDefined,
                 "KAVEL: band %d is converted to Byte (values clamped to 0..255)", band);
    }
    const int width = source->GetRasterXSize(), height = source->GetRasterYSize();
    if (uint64_t(width) * uint64_t(height) * uint64_t(channels) > kavel::kMaxEncodeSamples)
        return fail("the picture is too large to encode (" + std::to_string(width) + " x " +
                    std::to_string(height) + ")");

    kavel::Picture picture;
    picture.width = width;
    picture.height = height;
    picture.channels = channels;
    picture.samples.resize(size_t(width) * size_t(height) * size_t(channels));
    int band_map[3] = {1, 2, 3};
    const int64_t row_bytes = int64_t{width} * channels;
    const int strip_rows =
        static_cast<int>(std::clamp<int64_t>((int64_t{16} << 20) / row_bytes, 1, height));
    for (int row = 0; row < height; row += strip_rows) {
        const int rows = std::min(strip_rows, height - row);
        if (source->RasterIO(GF_Read, 0, row, width, rows, picture.samples.data() + row * row_bytes,
                             width, rows, GDT_Byte, channels, band_map, channels, row_bytes, 1,
                             nullptr) != CE_None)
            return nullptr;
        if (!report(progress, progress_data, 0.5 * (row + rows) / height, "reading"))
            return nullptr;
    }

    kavel::EncodeResult result;
    if (!kavel::encode_picture(std::move(picture), encoder, &result, &error)) return fail(error);
    if (!report(progress, progress_data, 0.9, "encoded")) return nullptr;
    std::vector<uint8_t> bytes;
    if (!kavel::write_kavel(result.file, &bytes, &error)) return fail(error);
    result.file = {};

    VSILFILE* file = VSIFOpenL(filename, "wb");
    if (file == nullptr) return fail(std::string("cannot create ") + filename);
    const bool written = VSIFWriteL(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (VSIFCloseL(file) != 0 || !written) {
        VSIUnlink(filename);
        return fail(std::string("cannot write ") + filename);
    }
    if (!report(progress, progress_data, 1.0, "written")) {
        VSIUnlink(filename);
        return nullptr;
    }

    GDALOpenInfo open_info(filename, GA_ReadOnly);
    auto* dataset = static_cast<KavelDataset*>(KavelDataset::Open(&open_info));
    if (dataset != nullptr) dataset->CloneInfo(source, GCIF_PAM_DEFAULT);
    return dataset;
}

}  // namespace kavel_gdal
